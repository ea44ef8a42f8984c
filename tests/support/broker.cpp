// mosquitto and mosquitto_sub as child processes of a test.
#include "broker.h"

#include "platform/panel/events.h"

#include <QStandardPaths>

#include <arpa/inet.h>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

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

bool Broker::Start(const Options &options) {
    Stop();
    const std::string config = folder_ + "/mosquitto.conf";
    std::ofstream file(config);
    // Run as root, mosquitto would change to its own user, which cannot read the test's files.
    file << "listener " << port_ << " 127.0.0.1\nuser " << getpwuid(getuid())->pw_name
         << "\npersistence false\nlog_dest stderr\nallow_anonymous "
         << (options.passwordFile.empty() ? "true" : "false") << "\n";
    if (!options.passwordFile.empty())
        file << "password_file " << options.passwordFile << "\n";
    if (!acl_.empty())
        file << "acl_file " << acl_ << "\n";
    if (!options.caFile.empty())
        file << "cafile " << options.caFile << "\ncertfile " << options.certFile << "\nkeyfile "
             << options.keyFile << "\n";
    file.close();
    QString program = QStandardPaths::findExecutable("mosquitto");
    if (program.isEmpty())
        program = "/usr/sbin/mosquitto"; // Debian's, outside the PATH of most users
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

Subscriber::Subscriber(int port, const std::string &filter, const std::vector<std::string> &extra) {
    // Line-buffered, or its lines would wait in the pipe's buffer.
    QStringList args = {"-oL",      "mosquitto_sub",
                        "-h",       "127.0.0.1",
                        "-p",       QString::number(port),
                        "-t",       QString::fromStdString(filter),
                        "-d",       "-F",
                        "MSG %t %p"};
    for (const std::string &arg : extra)
        args << QString::fromStdString(arg);
    process_.start("stdbuf", args);
    WaitUntil([this] {
        Messages();
        return ready_;
    });
}

// Debug lines tell of the subscription; messages are the lines in the format asked for.
std::vector<std::string> Subscriber::Messages() {
    pending_ += process_.readAllStandardOutput().toStdString();
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (line.starts_with("MSG "))
            messages_.push_back(line.substr(4));
        else if (line.find("received SUBACK") != std::string::npos)
            ready_ = true;
    }
    return messages_;
}
