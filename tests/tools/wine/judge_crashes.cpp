// Executables that end badly on purpose, for the test of tools/wine/judge-gtest. Each is built
// from this file with one JUDGE_CASE; none is registered as a test of its own, since each must fail.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <thread>

namespace {

#if JUDGE_CASE == 1
// Recursion with a frame the optimiser cannot drop, until the stack is gone.
int deep(int level) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(level);
    if (level == 1'000'000'000) return 0;
    return deep(level + 1) + frame[0];
}

TEST(Crash, StackOverflowInsideATest) { EXPECT_NE(deep(0), -1); }
#elif JUDGE_CASE == 2
TEST(Crash, NullWriteOnASecondThread) {
    std::thread writer([] {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    });
    writer.join();
}
#elif JUDGE_CASE == 3
// The process ends with exit code 0 in the middle of a test, as a crash was once seen to do.
TEST(Crash, ExitZeroInsideATest) {
    std::fflush(stdout);
    ExitProcess(0);
}
#else
TEST(Passes, Plainly) { EXPECT_EQ(1 + 1, 2); }
#endif

}  // namespace
