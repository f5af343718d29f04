#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "single_instance.h"

namespace {

std::string UniqueGuardName(const char* what) {
    return std::string("Q8RTest-") + what + "-" + std::to_string(getpid());
}

// The guard must free itself when its holder dies, however it dies.
TEST(PosixSingleInstance, IsTakenWhileTheHolderLivesAndFreeOnceItIsKilled) {
    const std::string name = UniqueGuardName("kill");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const char held = AnotherInstanceHolds(name.c_str()) ? 'n' : 'y';
        (void)!write(ready[1], &held, 1);
        pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');

    EXPECT_TRUE(AnotherInstanceHolds(name.c_str()));

    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(AnotherInstanceHolds(name.c_str())) << "the name must be free after the holder died";
    close(ready[0]);
    close(ready[1]);
}

}  // namespace
