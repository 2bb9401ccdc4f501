// End to end through hostctl, for each host built beside this test: the first message,
// the four ways a host ends, and the two start-up failures about the pipe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hostctl_run.h"
#include "json.h"

namespace {

struct HostCase {
    const char* exe;
    const char* runtime;  // simulated library it needs on its search path, or ""
};

void PrintTo(const HostCase& host, std::ostream* out) {
    *out << host.exe;
}

class HostLifecycle : public testing::TestWithParam<HostCase> {
protected:
    void SetUp() override {
        std::string missing = MissingForRun(GetParam().exe, GetParam().runtime);
        if (!missing.empty()) {
            GTEST_SKIP() << missing << " not built yet";
        }
    }

    HostctlRun Run(const std::string& script, const std::vector<std::string>& options = {},
                   const std::vector<std::string>& hostArgs = {}) {
        return RunHostctl(script, options, ExeDir() + GetParam().exe, hostArgs);
    }
};

TEST_P(HostLifecycle, AnnouncesItselfFirstAndEndsOnShutdownWhenIdle) {
    HostctlRun run = Run("wait_for host_ready\nwait 300\n{\"type\":\"shutdown\"}\n");
    EXPECT_EQ(run.exitCode, 0u) << run.text;
    std::vector<JsonObject> messages = run.HostMessages();
    ASSERT_EQ(messages.size(), 1u) << "an idle host writes nothing but host_ready\n" << run.text;
    const JsonObject& ready = messages.front();
    EXPECT_EQ(ready.Get("type"), "host_ready");
    std::string pid = run.EventValue("started pid ");
    EXPECT_EQ(ready.Get("pid"), pid) << run.text;
    EXPECT_NE(std::atoll(ready.Get("hwnd").c_str()), 0);
    // hostctl checked the handle while the host was alive.
    EXPECT_EQ(run.EventValue("window " + ready.Get("hwnd") + " "), "valid,") << run.text;
    EXPECT_EQ(run.EventValue("window " + ready.Get("hwnd") + " valid, process "), pid);
}

TEST_P(HostLifecycle, EndsWithZeroWhenThePipeOrTheWindowIsClosed) {
    for (const char* ending : {"close", "wm_close"}) {
        SCOPED_TRACE(ending);
        HostctlRun run = Run(std::string("wait_for host_ready\n") + ending + "\n");
        EXPECT_EQ(run.exitCode, 0u) << run.text;
        ASSERT_FALSE(run.HostMessages().empty()) << run.text;
        EXPECT_EQ(run.HostMessages().front().Get("type"), "host_ready");
    }
}

TEST_P(HostLifecycle, EndsWithOneWithoutAUsablePipeName) {
    struct Case {
        const char* what;
        std::vector<std::string> hostArgs;
    };
    const Case cases[] = {
        {"no such pipe", {"--pipeName=e2e-no-such-pipe"}},
        {"no --pipeName at all", {}},
        {"--pipeName= followed by a space", {"--pipeName=", "--quality=low"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // hostctl kills a host that has not connected at its timeout, and a host without a
        // pipe waits 5 s for one after its start-up, which a busy machine stretches past
        // 3 s: the timeout only guards against a host that never ends.
        HostctlRun run = Run("", {"--noPipeName", "--timeout=30000"}, c.hostArgs);
        EXPECT_EQ(run.exitCode, 1u) << run.text;
        EXPECT_TRUE(run.HostMessages().empty()) << run.text;
    }
}

const HostCase kHosts[] = {
    {"Tivane.exe", "Processing.NDI.Lib.x64.dll"},
    {"Parlex.exe", "libomt.dll"},
    {"Grelm.exe", ""},
};

INSTANTIATE_TEST_SUITE_P(Hosts, HostLifecycle, testing::ValuesIn(kHosts),
                         [](const testing::TestParamInfo<HostCase>& host) {
                             std::string exe = host.param.exe;
                             return exe.substr(0, exe.find('.'));
                         });

}  // namespace
