// Unattended visits: a Task Scheduler task of the current user that runs the tool itself,
// by its full path, with the visit's arguments, daily at a time or at the user's logon.
// What a task is made of (TaskDefinition) is built here from plain values; TaskService is
// the only part that talks to the Task Scheduler, so what is handed over can be checked
// without it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmx::tool {

enum class TaskTrigger { daily, logon };

struct TaskDefinition {
    std::wstring name;      // in the scheduler's root folder, "QMXClicker ..." (task_prefix)
    std::wstring program;   // the tool's full path
    std::wstring arguments; // one command line, quoted as the program's runtime splits it
    std::wstring folder;    // where it starts: the program's folder
    TaskTrigger trigger = TaskTrigger::daily;
    int hour = 0, minute = 0; // daily: the local time of day
    std::wstring user;      // DOMAIN\name: whose logon starts it and whom it runs as
    friend bool operator==(const TaskDefinition&, const TaskDefinition&) = default;
};

// What the scheduler holds of one of the tool's tasks. Wine 8 stores a task without its
// actions and triggers: those are then empty.
struct ScheduledTask {
    std::wstring name;
    std::wstring program, arguments;
    std::wstring trigger;  // "daily at 18:00", "at logon of DOMAIN\name", "" when none
    std::wstring next_run; // 2026-12-10 18:00:00, or empty
    bool enabled = true;
};

inline constexpr wchar_t task_prefix[] = L"QMXClicker ";

// "18:00" or "7:05": hour and minute; nothing for anything else.
std::optional<std::pair<int, int>> read_time_of_day(std::wstring_view text);

// The arguments as one command line that CommandLineToArgvW and the C runtime split back
// into the same list: blanks and tabs quoted, backslashes before a quote doubled.
std::wstring join_arguments(const std::vector<std::wstring>& arguments);

// The task for a visit: name (task_prefix and the given name, or the visit's command and
// its trigger: "QMXClicker download daily 1800"), the running program's own path and
// folder, the user this process runs as. Throws ToolError{Outcome::usage} for a name the
// scheduler cannot hold.
TaskDefinition make_task(const std::vector<std::wstring>& visit, TaskTrigger trigger, int hour, int minute,
                         const std::wstring& name = L"");

// The Task Scheduler as the tool uses it. Each call throws ToolError{Outcome::usage}
// for a refusal the user can act on (no such task) and ToolError{Outcome::component}
// with the scheduler's reason otherwise.
class TaskService {
public:
    virtual ~TaskService() = default;
    // Creates the task, or replaces the one of that name.
    virtual void create(const TaskDefinition& task) = 0;
    // The tasks whose names begin with task_prefix, by name. Wine 8's scheduler cannot
    // list its tasks: ToolError{Outcome::component} saying so.
    virtual std::vector<ScheduledTask> list() = 0;
    // The task of that exact name, or nothing.
    virtual std::optional<ScheduledTask> find(const std::wstring& name) = 0;
    virtual void remove(const std::wstring& name) = 0;
};

// The system's Task Scheduler (ITaskService), on a thread that has initialised COM.
std::unique_ptr<TaskService> system_task_service();

} // namespace qmx::tool
