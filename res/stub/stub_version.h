// The stub library's version, shared by its code and its version record. Setup only takes a
// version record whose eight 16-bit parts are all at most 20 for the stub's own, so every part
// here must stay at or below 20.
#ifndef TQ_RES_STUB_STUB_VERSION_H
#define TQ_RES_STUB_STUB_VERSION_H

#define STUB_VERSION_PARTS 8, 1, 0, 12
#define STUB_VERSION_TEXT "8.1.0.12"

#ifndef RC_INVOKED
constexpr unsigned short StubVersionMajor = 8;
constexpr unsigned short StubVersionMinor = 1;
#endif

#endif
