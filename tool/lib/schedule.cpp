#include "lib/schedule.h"

#include "com/com_ptr.h"
#include "lib/component.h"
#include "lib/system.h"
#include "lib/text.h"

#include <windows.h>

#include <oleauto.h>
#include <taskschd.h>

#include <algorithm>
#include <cwchar>

namespace qmx::tool {

namespace {

// MinGW-w64's taskschd.h lacks the logon trigger's interface: ITrigger's methods, then these.
struct LogonTrigger : ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
constexpr IID iid_logon_trigger = {0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};

// The user this process runs as, DOMAIN\name.
std::wstring current_user()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return L"";
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    std::wstring user;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        wchar_t name[256], domain[256];
        DWORD name_size = 256, domain_size = 256;
        SID_NAME_USE use;
        if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &name_size, domain,
                              &domain_size, &use))
            user = std::wstring(domain) + L"\\" + name;
    }
    CloseHandle(token);
    return user;
}

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }
    BSTR* out()
    {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::wstring text() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : L""; }

private:
    BSTR b_ = nullptr;
};

VARIANT empty_variant()
{
    VARIANT v;
    VariantInit(&v);
    return v;
}

void check(HRESULT hr, const wchar_t* what)
{
    if (FAILED(hr))
        throw ToolError{Outcome::component, std::wstring(L"the Task Scheduler refused to ") + what + L": " +
                                                system_message(static_cast<DWORD>(hr)) + L" (" + hex(hr) + L")"};
}

class SystemTaskService final : public TaskService {
public:
    SystemTaskService()
    {
        check(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService, service_.out_void()),
              L"start");
        check(service_->Connect(empty_variant(), empty_variant(), empty_variant(), empty_variant()), L"connect");
        check(service_->GetFolder(Bstr(L"\\"), root_.out()), L"open its root folder");
    }

    void create(const TaskDefinition& task) override
    {
        ComPtr<ITaskDefinition> definition;
        check(service_->NewTask(0, definition.out()), L"make a task");

        ComPtr<IRegistrationInfo> info;
        check(definition->get_RegistrationInfo(info.out()), L"describe the task");
        info->put_Author(Bstr(task.user));
        info->put_Description(Bstr(L"A scanner visit of qmxclicker, made by qmxclicker schedule"));

        // A PC that was off at the time runs the visit when it is next on; a visit that
        // hangs is ended after an hour; a second start while one runs is dropped.
        ComPtr<ITaskSettings> settings;
        check(definition->get_Settings(settings.out()), L"set the task's settings");
        settings->put_StartWhenAvailable(VARIANT_TRUE);
        settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
        settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
        settings->put_ExecutionTimeLimit(Bstr(L"PT1H"));
        settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW);

        ComPtr<ITriggerCollection> triggers;
        check(definition->get_Triggers(triggers.out()), L"add the trigger");
        ComPtr<ITrigger> trigger;
        if (task.trigger == TaskTrigger::daily) {
            check(triggers->Create(TASK_TRIGGER_DAILY, trigger.out()), L"add the daily trigger");
            ComPtr<IDailyTrigger> daily;
            check(trigger->QueryInterface(IID_IDailyTrigger, daily.out_void()), L"add the daily trigger");
            SYSTEMTIME today{};
            GetLocalTime(&today);
            wchar_t start[32];
            swprintf(start, 32, L"%04u-%02u-%02uT%02d:%02d:00", today.wYear, today.wMonth, today.wDay, task.hour,
                     task.minute);
            check(daily->put_StartBoundary(Bstr(start)), L"set the daily time");
            check(daily->put_DaysInterval(1), L"set the daily interval");
        } else {
            check(triggers->Create(TASK_TRIGGER_LOGON, trigger.out()), L"add the logon trigger");
            ComPtr<LogonTrigger> logon;
            check(trigger->QueryInterface(iid_logon_trigger, logon.out_void()), L"add the logon trigger");
            check(logon->put_UserId(Bstr(task.user)), L"set whose logon starts the task");
        }

        ComPtr<IActionCollection> actions;
        check(definition->get_Actions(actions.out()), L"add the action");
        ComPtr<IAction> action;
        check(actions->Create(TASK_ACTION_EXEC, action.out()), L"add the action");
        ComPtr<IExecAction> exec;
        check(action->QueryInterface(IID_IExecAction, exec.out_void()), L"add the action");
        check(exec->put_Path(Bstr(task.program)), L"set the program");
        check(exec->put_Arguments(Bstr(task.arguments)), L"set the arguments");
        check(exec->put_WorkingDirectory(Bstr(task.folder)), L"set the starting folder");

        // The user's own, when logged on: no password is stored, no rights are needed.
        ComPtr<IRegisteredTask> registered;
        VARIANT user = empty_variant();
        V_VT(&user) = VT_BSTR;
        Bstr user_text(task.user);
        V_BSTR(&user) = user_text;
        check(root_->RegisterTaskDefinition(Bstr(task.name), definition.get(), TASK_CREATE_OR_UPDATE, user,
                                            empty_variant(), TASK_LOGON_INTERACTIVE_TOKEN, empty_variant(),
                                            registered.out()),
              L"store the task");
    }

    std::vector<ScheduledTask> list() override
    {
        ComPtr<IRegisteredTaskCollection> collection;
        check(root_->GetTasks(TASK_ENUM_HIDDEN, collection.out()), L"list the tasks");
        // Item by item until there is none: Wine's collection neither counts nor enumerates.
        std::vector<ScheduledTask> tasks;
        for (LONG i = 1;; ++i) {
            VARIANT index = empty_variant();
            V_VT(&index) = VT_I4;
            V_I4(&index) = i;
            ComPtr<IRegisteredTask> registered;
            const HRESULT hr = collection->get_Item(index, registered.out());
            if (hr == E_NOTIMPL) // Wine 8
                throw ToolError{Outcome::component, L"this Task Scheduler cannot list its tasks (" + hex(hr) + L")"};
            if (FAILED(hr) || !registered)
                break;
            Bstr name;
            if (FAILED(registered->get_Name(name.out())) || name.text().rfind(task_prefix, 0) != 0)
                continue;
            tasks.push_back(describe(*registered.get()));
        }
        std::sort(tasks.begin(), tasks.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        return tasks;
    }

    std::optional<ScheduledTask> find(const std::wstring& name) override
    {
        ComPtr<IRegisteredTask> registered;
        const HRESULT hr = root_->GetTask(Bstr(name), registered.out());
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
            return std::nullopt;
        check(hr, L"read the task");
        return describe(*registered.get());
    }

    void remove(const std::wstring& name) override
    {
        const HRESULT hr = root_->DeleteTask(Bstr(name), 0);
        if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
            throw ToolError{Outcome::usage, L"no scheduled task \"" + name + L"\" (qmxclicker schedule --list lists them)"};
        check(hr, L"remove the task");
    }

private:
    static ScheduledTask describe(IRegisteredTask& registered)
    {
        ScheduledTask t;
        Bstr name;
        registered.get_Name(name.out());
        t.name = name.text();
        VARIANT_BOOL enabled = VARIANT_TRUE;
        registered.get_Enabled(&enabled);
        t.enabled = enabled != VARIANT_FALSE;
        DATE next = 0;
        if (SUCCEEDED(registered.get_NextRunTime(&next)) && next > 0)
            t.next_run = iso_time(next, L' ');
        ComPtr<ITaskDefinition> definition;
        if (SUCCEEDED(registered.get_Definition(definition.out())))
            read_definition(*definition.get(), t);
        return t;
    }

    static void read_definition(ITaskDefinition& definition, ScheduledTask& t)
    {
        ComPtr<IActionCollection> actions;
        ComPtr<IAction> action;
        ComPtr<IExecAction> exec;
        LONG count = 0;
        if (SUCCEEDED(definition.get_Actions(actions.out())) && SUCCEEDED(actions->get_Count(&count)) && count > 0 &&
            SUCCEEDED(actions->get_Item(1, action.out())) &&
            SUCCEEDED(action->QueryInterface(IID_IExecAction, exec.out_void()))) {
            Bstr path, arguments;
            exec->get_Path(path.out());
            exec->get_Arguments(arguments.out());
            t.program = path.text();
            t.arguments = arguments.text();
        }
        ComPtr<ITriggerCollection> triggers;
        ComPtr<ITrigger> trigger;
        TASK_TRIGGER_TYPE2 type{};
        count = 0;
        if (FAILED(definition.get_Triggers(triggers.out())) || FAILED(triggers->get_Count(&count)) || count < 1 ||
            FAILED(triggers->get_Item(1, trigger.out())) || FAILED(trigger->get_Type(&type)))
            return;
        if (type == TASK_TRIGGER_DAILY) {
            Bstr start;
            trigger->get_StartBoundary(start.out());
            const std::wstring s = start.text();
            t.trigger = L"daily at " + (s.size() >= 16 ? s.substr(11, 5) : s);
        } else if (type == TASK_TRIGGER_LOGON) {
            ComPtr<LogonTrigger> logon;
            Bstr user;
            if (SUCCEEDED(trigger->QueryInterface(iid_logon_trigger, logon.out_void())))
                logon->get_UserId(user.out());
            t.trigger = L"at logon of " + user.text();
        } else {
            t.trigger = L"another trigger (type " + std::to_wstring(static_cast<int>(type)) + L")";
        }
    }

    ComPtr<ITaskService> service_;
    ComPtr<ITaskFolder> root_;
};

} // namespace

std::optional<std::pair<int, int>> read_time_of_day(std::wstring_view text)
{
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != colon && (text[i] < L'0' || text[i] > L'9'))
            return std::nullopt;
    const int hour = colon == 1 ? text[0] - L'0' : (text[0] - L'0') * 10 + (text[1] - L'0');
    const int minute = (text[colon + 1] - L'0') * 10 + (text[colon + 2] - L'0');
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return std::pair{hour, minute};
}

std::wstring join_arguments(const std::vector<std::wstring>& arguments)
{
    std::wstring line;
    for (const std::wstring& a : arguments) {
        if (!line.empty())
            line += L' ';
        if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += a;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (wchar_t c : a) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count double only before a quote: the one in the text, or the closing one.
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, L'\\');
        line += L'"';
    }
    return line;
}

TaskDefinition make_task(const std::vector<std::wstring>& visit, TaskTrigger trigger, int hour, int minute,
                         const std::wstring& name)
{
    TaskDefinition t;
    t.trigger = trigger;
    t.hour = trigger == TaskTrigger::daily ? hour : 0;
    t.minute = trigger == TaskTrigger::daily ? minute : 0;
    if (name.empty()) {
        wchar_t when[32] = L" at logon";
        if (trigger == TaskTrigger::daily)
            swprintf(when, 32, L" daily %02d%02d", hour, minute);
        t.name = task_prefix + (visit.empty() ? std::wstring(L"visit") : visit.front()) + when;
    } else {
        t.name = name.rfind(task_prefix, 0) == 0 ? name : task_prefix + name;
    }
    if (t.name.size() > 200 || t.name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos ||
        std::any_of(t.name.begin(), t.name.end(), [](wchar_t c) { return c < L' '; }))
        throw ToolError{Outcome::usage, L"a task name cannot hold \\ / : * ? \" < > | or control characters, nor "
                                        L"pass 200 characters: " + t.name};
    t.program = module_path(nullptr);
    t.folder = folder_of(t.program);
    t.arguments = join_arguments(visit);
    t.user = current_user();
    return t;
}

std::unique_ptr<TaskService> system_task_service()
{
    return std::make_unique<SystemTaskService>();
}

} // namespace qmx::tool
