// rmx7ctl publish: the agents of one line or several, each with its own connection to an
// MQTT broker: live values out, the plant's commands in, the approved set and the audit trail.
#include "commands.h"

#include "com232.h"
#include "lines.h"
#include "plant/agent.h"
#include "plant/approved_set.h"
#include "platform/files/project_dir.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/text.h"
#include "publisher.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace ctl {

namespace {

void Tell(const std::string &text) {
    std::fprintf(stderr, "rmx7ctl: %s\n", text.c_str());
}

// The state directory of the line called name: --state, else the config's, else systemd's
// for the service, else lines/NAME in the data folder; below it a folder of each line's
// name where one process serves several.
std::string StateDirOf(const Options &options, const std::string &name, bool several) {
    const std::string given =
        !options.state.empty() ? options.state : options.shared.publisher.state;
    if (given.empty()) {
        char dataFolder[kPathSize] = {};
        GetProjectDir(dataFolder);
        const std::string folder =
            plant::DefaultStateDir(std::getenv("STATE_DIRECTORY"), dataFolder, name);
        return several && std::getenv("STATE_DIRECTORY") ? plant::FileIn(folder, name.c_str())
                                                         : folder;
    }
    return several ? plant::FileIn(given, name.c_str()) : given;
}

plant::AgentSettings AgentSettingsOf(const Options &options, const std::string &name,
                                     bool several) {
    const publish::Settings &publisher = options.shared.publisher;
    plant::AgentSettings settings;
    settings.name      = name;
    settings.publisher = publisher;
    settings.commands  = publisher.commands == "write"  ? plant::Commands::Write
                         : publisher.commands == "read" ? plant::Commands::Read
                                                        : plant::Commands::Off;
    plant::ParseMode(publisher.parameterServer, settings.server);
    settings.stateDir = StateDirOf(options, name, several);
    settings.quiet    = options.quiet;
    return settings;
}

// The lines' agents, side by side until Ctrl+C or SIGTERM.
class Agents {
  public:
    bool Start(const Options &options, std::vector<ServedLine> served, Report &report) {
        const bool several = served.size() > 1;
        for (ServedLine &line : served) {
            const std::string label = several ? line.name + ": " : "";
            auto agent              = std::make_unique<plant::Agent>(
                *line.line, AgentSettingsOf(options, line.name, several),
                [label](const std::string &text) { Tell(label + text); }, line.quiet);
            std::string error;
            if (!agent->Start(error)) {
                report.outcome = {status::Result::Refused, error};
                return false;
            }
            lines_.push_back(std::move(line));
            agents_.push_back(std::move(agent));
        }
        return true;
    }

    void Run() {
        running_ = static_cast<int>(agents_.size());
        for (std::size_t i = 0; i < agents_.size(); ++i)
            lines_[i].line->Queue(Serve(*agents_[i]));
        CallOnInterrupt([this] {
            for (const auto &agent : agents_)
                agent->End();
        });
        if (running_ > 0)
            RunUserInterface();
        CallOnInterrupt(nullptr);
    }

    void Stop(Report &report) {
        long long replies = 0, unpublished = 0;
        std::vector<std::string> each;
        for (std::size_t i = 0; i < agents_.size(); ++i) {
            const publish::Publisher &publisher = agents_[i]->Publisher();
            replies += publisher.Replies();
            unpublished += publisher.Unpublished();
            JsonObject entry;
            entry.Add("name", JsonString(publisher.Name()));
            entry.Add("replies", std::to_string(publisher.Replies()));
            entry.Add("unpublished", std::to_string(publisher.Unpublished()));
            each.push_back(entry.Text());
            agents_[i]->Stop();
            CloseCom(lines_[i].com);
        }
        report.json.Add("replies", std::to_string(replies));
        report.json.Add("unpublished", std::to_string(unpublished));
        if (agents_.size() > 1)
            report.json.Add("lines", JsonArray(each));
    }

  private:
    job::Task<void> Serve(plant::Agent &agent) {
        co_await agent.Serve();
        if (--running_ == 0)
            QuitUserInterface(0);
    }

    std::vector<ServedLine> lines_;
    std::vector<std::unique_ptr<plant::Agent>> agents_;
    int running_ = 0;
};

} // namespace

void RunPublish(Session &, const Options &options, Report &report) {
    Agents agents;
    if (!agents.Start(options, ServeLines(options), report))
        return;
    for (const std::string &warning : {publish::PasswordWarning(options.shared.publisher),
                                       publish::CommandsWarning(options.shared.publisher)})
        if (!warning.empty())
            Tell("warning: " + warning);
    // The agents try the port again by themselves: no advice to run the command again.
    SetDiagnosisForProgram(kDiagnosisService);
    agents.Run();
    agents.Stop(report);
}

} // namespace ctl
