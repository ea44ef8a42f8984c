// mosquitto and mosquitto_sub as child processes of a test.
#include "broker.h"

#include "platform/panel/events.h"

#include <QStandardPaths>

#include <arpa/inet.h>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kToolMs = 30000;

QStringList Arguments(const std::vector<std::string> &args) {
    QStringList list;
    for (const std::string &arg : args)
        list << QString::fromStdString(arg);
    return list;
}

} // namespace

bool WaitUntil(const std::function<bool()> &done, double seconds) {
    for (const double deadline = Timer() + seconds; Timer() < deadline; ProcessSystemEvents())
        if (done())
            return true;
    return done();
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

int RunTool(const std::string &program, const std::vector<std::string> &args) {
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QString::fromStdString(program), Arguments(args));
    if (!tool.waitForFinished(kToolMs) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return tool.exitCode();
}

bool Broker::Start(const Options &options) {
    Stop();
    const std::string config = folder_ + "/mosquitto.conf";
    std::ofstream file(config);
    // Run as root, mosquitto would change to its own user, which cannot read the test's files.
    file << "listener " << port_ << " 127.0.0.1\n"
         << "user " << getpwuid(getuid())->pw_name << "\n"
         << "persistence false\nlog_dest stderr\n"
         << "allow_anonymous " << (options.passwordFile.empty() ? "true" : "false") << "\n";
    if (!options.passwordFile.empty())
        file << "password_file " << options.passwordFile << "\n";
    if (!options.caFile.empty())
        file << "cafile " << options.caFile << "\ncertfile " << options.certFile << "\nkeyfile "
             << options.keyFile << "\n";
    file.close();

    const QString program =
        QStandardPaths::findExecutable("mosquitto").isEmpty()
            ? QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/local/sbin"})
            : QStandardPaths::findExecutable("mosquitto");
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start(program, {"-c", QString::fromStdString(config)});
    QByteArray said;
    return WaitUntil([&] {
               said += process_->readAll();
               return said.contains(" running") || process_->state() == QProcess::NotRunning;
           }) &&
           process_->state() == QProcess::Running;
}

void Broker::Stop() {
    if (!process_)
        return;
    process_->kill();
    process_->waitForFinished(kToolMs);
    process_.reset();
}

Subscriber::Subscriber(int port, const std::string &filter, const std::vector<std::string> &extra) {
    // Its lines would wait in the buffer of a pipe without line buffering.
    std::vector<std::string> args = {
        "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p",       std::to_string(port),
        "-t",  filter,          "-d", "-F",        "MSG %t %p"};
    args.insert(args.end(), extra.begin(), extra.end());
    process_.start("stdbuf", Arguments(args));
    WaitUntil([this] {
        Take();
        return ready_;
    });
}

// Debug lines tell of the subscription; messages are the lines in the format asked for.
void Subscriber::Take() {
    pending_ += process_.readAllStandardOutput().toStdString();
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (line.starts_with("MSG "))
            messages_.push_back(line.substr(4));
        else if (line.find("received SUBACK") != std::string::npos)
            ready_ = true;
    }
}

std::vector<std::string> Subscriber::Messages() {
    Take();
    return messages_;
}

bool Subscriber::WaitFor(std::size_t count) {
    return WaitUntil([&] { return Messages().size() >= count; });
}
