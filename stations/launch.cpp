#include "stations/launch.h"

#include <QMessageBox>
#include <QSettings>

#include <cstdio>

#include "serve/serve_control.h"
#include "stations/window_texts.h"

namespace zl::stations {
namespace {

void Refuse(bool english, WinText title, const QString& text) {
    // Said on standard error too, for a line started from a script.
    std::fprintf(stderr, "BootloaderZL-Stations: %s\n", text.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(WText(title, english)), text, QMessageBox::Ok);
    box.exec();
}

// "--name VALUE" or "--name=VALUE" at args[i] (i moves past the value); each option once.
bool TakeValue(const QStringList& args, qsizetype& i, const QString& name, QString& value) {
    const QString& a = args[i];
    if (!value.isEmpty()) return false;
    if (a == name && i + 1 < args.size()) value = args[++i];
    else if (a.startsWith(name + QLatin1Char('='))) value = a.mid(name.size() + 1);
    else return false;
    return !value.isEmpty();
}

// The language the window was last shown in.
bool English() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hallwyn"),
                             QStringLiteral("BootloaderZL-Stations"));
    return settings.value(QStringLiteral("PrevLang"), 0).toInt() != 0;
}

}  // namespace

void RefuseServe(const QString& text) { Refuse(English(), WinText::ServeRefused, text); }

std::optional<WindowSetup> SetupFromArguments(const QStringList& args, int& exitCode) {
    const bool english = English();
    const QString usage = QString::fromStdU16String(WText(WinText::Usage, english));
    WindowSetup setup;
    QString jobPath, serveAddress, serveToken;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--ask-unit")) {
            setup.askUnit = true;
        } else if (!TakeValue(args, i, QStringLiteral("--job"), jobPath) &&
                   !TakeValue(args, i, QStringLiteral("--serve"), serveAddress) &&
                   !TakeValue(args, i, QStringLiteral("--serve-token"), serveToken)) {
            exitCode = 1;
            Refuse(english, WinText::JobRefused, a + QStringLiteral(": ") + usage);
            return std::nullopt;
        }
    }
    // The server's address and token are checked before anything else is looked at.
    if (!serveToken.isEmpty() && serveAddress.isEmpty()) {
        exitCode = 1;
        Refuse(english, WinText::ServeRefused, QStringLiteral("--serve-token goes with --serve ADDRESS:PORT: ") + usage);
        return std::nullopt;
    }
    if (!serveAddress.isEmpty()) {
        serve::ServeSetup serveSetup;
        std::string error;
        std::optional<std::string> tokenFile;
        if (!serveToken.isEmpty()) tokenFile = serveToken.toStdString();
        if (!serve::PrepareServe(serveAddress.toStdString(), tokenFile, "BootloaderZL-Stations", serveSetup, error)) {
            exitCode = 1;
            Refuse(english, WinText::ServeRefused, QString::fromStdString(error));
            return std::nullopt;
        }
        setup.serve = std::move(serveSetup);
    }
    if (jobPath.isEmpty()) return setup;
    JobFile job;
    JobProblem problem;
    if (!ReadJobFile(jobPath.toStdString(), job, problem) || !CheckJobFirmware(job, problem)) {
        exitCode = problem.kind == JobProblemKind::Syntax ? 1 : 7;
        Refuse(english, WinText::JobRefused, QString::fromStdString(problem.message));
        return std::nullopt;
    }
    setup.job = std::move(job);
    return setup;
}

}  // namespace zl::stations
