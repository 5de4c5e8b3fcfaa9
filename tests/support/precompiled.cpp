// The target that makes the test programs' precompiled header (precompiled.h); it has no code.
