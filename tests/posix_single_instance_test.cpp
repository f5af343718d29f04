#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "single_instance.h"

namespace {

// The guard is seen whatever the holder's environment or user, and frees
// itself when its holder dies, however it dies.
TEST(PosixSingleInstance, IsSeenFromAnyEnvironmentAndFreedWhenTheHolderIsKilled) {
    const struct {
        const char* name;
        bool otherEnvironment;
        bool otherUser;
    } cases[] = {{"same", false, false}, {"environment", true, false}, {"user", true, true}};
    for (const auto& c : cases) {
        if (c.otherUser && geteuid() != 0) continue;  // only root can become another user
        const std::string name = std::string("Q8RTest-") + c.name + "-" + std::to_string(getpid());
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t holder = fork();
        ASSERT_GE(holder, 0);
        if (holder == 0) {
            if (c.otherEnvironment) {
                setenv("XDG_RUNTIME_DIR", "/nonexistent/run", 1);
                setenv("TMPDIR", "/nonexistent/tmp", 1);
            }
            if (c.otherUser && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
            const char held = AnotherInstanceHolds(name.c_str()) ? 'n' : 'y';
            (void)!write(ready[1], &held, 1);
            pause();
            _exit(0);
        }
        char held = 0;
        ASSERT_EQ(read(ready[0], &held, 1), 1) << c.name;
        EXPECT_EQ(held, 'y') << c.name;

        EXPECT_TRUE(AnotherInstanceHolds(name.c_str())) << c.name;

        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        EXPECT_FALSE(AnotherInstanceHolds(name.c_str())) << c.name << ": the name must be free after the holder died";
        close(ready[0]);
        close(ready[1]);
    }
}

}  // namespace
