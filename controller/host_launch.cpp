#include "host_launch.h"

#include <mutex>
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
                     const std::wstring& folder, const std::wstring* environment,
                     HANDLE standardError, LaunchedHost& host, DWORD& error, std::string& step) {
    step = "create a job object";
    UniqueHandle job = CreateKillOnCloseJob(error);
    if (!job) {
        return false;
    }
    // The host inherits its standard error and nothing else of ours: the list names the
    // only handle that goes across.
    step = "name the host's inherited handle";
    HANDLE inherited = standardError;
    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    std::vector<unsigned char> listMemory(listBytes);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listBytes)) {
        error = GetLastError();
        return false;
    }
    bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited,
                                            sizeof inherited, nullptr, nullptr) != 0;
    if (!listed) {
        error = GetLastError();
        DeleteProcThreadAttributeList(list);
        return false;
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdError = inherited;
    startup.lpAttributeList = list;
    DWORD flags = CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT |
                  (environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
    void* block = environment != nullptr ? const_cast<wchar_t*>(environment->c_str()) : nullptr;
    PROCESS_INFORMATION info = {};
    step = "start";
    BOOL started = FALSE;
    {
        // A handle list takes only inheritable handles, and while ours is one, any other
        // start in this process that inherits handles without a list would take it along:
        // so it is inheritable for this call alone. Our own starts take turns here.
        static std::mutex inheritance;
        std::lock_guard<std::mutex> turn(inheritance);
        SetHandleInformation(inherited, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        started =
            CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags, block,
                           folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &info);
        error = started ? 0 : GetLastError();
        SetHandleInformation(inherited, HANDLE_FLAG_INHERIT, 0);
    }
    DeleteProcThreadAttributeList(list);
    if (!started) {
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
