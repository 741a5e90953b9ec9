// Test entry: COM for the main thread, then GoogleTest.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleMock(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
