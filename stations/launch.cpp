#include "stations/launch.h"

#include <QMessageBox>
#include <QSettings>

#include <cstdio>

#include "stations/window_texts.h"

namespace zl::stations {
namespace {

void Refuse(bool english, const QString& text) {
    // Said on standard error too, for a line started from a script.
    std::fprintf(stderr, "BootloaderZL-Stations: %s\n", text.toLocal8Bit().constData());
    QMessageBox box(QMessageBox::Critical, QString::fromStdU16String(WText(WinText::JobRefused, english)), text,
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

std::optional<WindowSetup> SetupFromArguments(const QStringList& args, int& exitCode) {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Hallwyn"),
                             QStringLiteral("BootloaderZL-Stations"));
    const bool english = settings.value(QStringLiteral("PrevLang"), 0).toInt() != 0;
    const QString usage = QString::fromStdU16String(WText(WinText::Usage, english));
    WindowSetup setup;
    QString jobPath;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--ask-unit")) {
            setup.askUnit = true;
        } else if (a == QLatin1String("--job") && i + 1 < args.size() && jobPath.isEmpty()) {
            jobPath = args[++i];
        } else if (a.startsWith(QLatin1String("--job=")) && jobPath.isEmpty()) {
            jobPath = a.mid(6);
        } else {
            exitCode = 1;
            Refuse(english, a + QStringLiteral(": ") + usage);
            return std::nullopt;
        }
    }
    if (jobPath.isEmpty()) return setup;
    JobFile job;
    JobProblem problem;
    if (!ReadJobFile(jobPath.toStdString(), job, problem) || !CheckJobFirmware(job, problem)) {
        exitCode = problem.kind == JobProblemKind::Syntax ? 1 : 7;
        Refuse(english, QString::fromStdString(problem.message));
        return std::nullopt;
    }
    setup.job = std::move(job);
    return setup;
}

}  // namespace zl::stations
