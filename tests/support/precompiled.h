// The headers that nearly every test file includes, compiled once for all test programs of a
// build tree: parsing GoogleTest and windows.h took most of each test file's compile time.
#ifndef TQ_TESTS_SUPPORT_PRECOMPILED_H
#define TQ_TESTS_SUPPORT_PRECOMPILED_H

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#endif
