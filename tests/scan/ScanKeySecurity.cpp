// The key-security helpers of the registry tests, for the locked-key cases here.
#include "tests/registry/KeySecurity.cpp"
