// The public address and the text of the Test Connection report.
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include "app/core/net_info.h"
#include "app/core/system_info.h"
#include "app/core/text_util.h"
#include "app/core/words.h"

namespace corvane::app::NetInfo {

std::optional<std::string> publicIP(const std::string& serverBase) {
    QUrl url(QString::fromStdString(serverBase + "/v1/ip"));
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    // Own manager and loop: this runs on a background thread and blocks it
    // for at most five seconds.
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(4000);
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(5000);
    loop.exec();
    std::optional<std::string> answer;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError)
        answer = parsePublicIP(QString::fromUtf8(reply->readAll()).toStdString());
    reply->abort();
    delete reply;
    return answer;
}

std::optional<std::string> publicIP() {
    return publicIP(serviceBase());
}

std::string afterRestartNote(bool opensAtLogin) {
    std::string note = words(Words::afterRestart);
    if (!opensAtLogin)
        note += std::string("\n") + words(Words::openAtLoginHint);
    return note;
}

std::string report(int port, bool running, const std::vector<Address>& addresses, bool listening,
                   const std::optional<std::string>& publicAddress, bool opensAtLogin) {
    const std::string portText = std::to_string(port);
    if (!running)
        return "The server is not running. Choose Start Server in the menu, then test again.\n\n" +
               afterRestartNote(opensAtLogin);
    std::vector<std::string> lines;
    lines.push_back(listening ? fillWords(words(Words::listeningOnPort), "port", portText)
                              : "The server says it is running but nothing answers on port " +
                                    portText + ". Check the log.");
    if (!addresses.empty()) {
        lines.push_back("In Windows App, add a PC and type one of these:");
        bool anyPrivate = false;
        for (const Address& address : addresses) {
            lines.push_back("    " + address.ip + ":" + portText + "   (" + address.interface +
                            ")");
            anyPrivate = anyPrivate || isPrivate(address.ip);
        }
        if (anyPrivate)
            lines.push_back("These work from computers on the same network. To connect from "
                            "elsewhere you need a VPN or a port forward on your router.");
    } else {
        lines.push_back(words(Words::noNetworkAddress));
    }
    if (publicAddress)
        lines.push_back("Your public address is " + *publicAddress + ". Forward port " + portText +
                        words(Words::forwardPort));
    lines.push_back(fillWords(words(Words::firewallHint), "port", portText));
    lines.push_back("");
    lines.push_back(afterRestartNote(opensAtLogin));
    return text::join(lines, "\n");
}

} // namespace corvane::app::NetInfo
