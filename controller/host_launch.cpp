#include "host_launch.h"

#include <vector>

namespace {

// Killed with the job's last handle; a host that crashes ends at once instead of
// waiting behind an error-report dialog.
UniqueHandle CreateKillOnCloseJob(DWORD& error) {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        error = GetLastError();
        return job;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        error = GetLastError();
        job.Reset();
    }
    return job;
}

}  // namespace

bool LaunchHostInJob(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& folder, LaunchedHost& host, DWORD& error,
                     std::string& step) {
    step = "create a job object";
    UniqueHandle job = CreateKillOnCloseJob(error);
    if (!job) {
        return false;
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    step = "start";
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        error = GetLastError();
        return false;
    }
    UniqueHandle thread(info.hThread);
    UniqueHandle process(info.hProcess);
    if (!AssignProcessToJobObject(job.Get(), process.Get())) {
        error = GetLastError();
        step = "put the host in its job object";
        TerminateProcess(process.Get(), 1);
        return false;
    }
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        error = GetLastError();
        step = "resume";
        TerminateProcess(process.Get(), 1);
        return false;
    }
    host.process = std::move(process);
    host.job = std::move(job);
    host.processId = info.dwProcessId;
    return true;
}
