// tessel-pkg: plug-in packages on the command line, with the host's own package code.
//   tessel-pkg [-C DIR] pack TEMPLATE.tpl OUT.plug
//   tessel-pkg [-C DIR] list PKG.plug
//   tessel-pkg [-C DIR] install PKG.plug
// Everything runs as if started in DIR. Exit codes: 0 done, 1 refused or failed, 2 usage.
// Messages are the host's English texts, built in.
#include "common/terminal_text.h"
#include "common/text_format.h"
#include "host/packages/package_files.h"
#include "host/packages/package_installer.h"
#include "host/packages/signal_guard_p.h"
#include "widgetkit/sys_xml_document.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: tessel-pkg [-C DIR] pack TEMPLATE.tpl OUT.plug\n"
    "       tessel-pkg [-C DIR] list PKG.plug\n"
    "       tessel-pkg [-C DIR] install PKG.plug\n"
    "Paths in templates and packages are relative to the working folder (DIR with -C).\n"
    "install checks the whole package first and puts back what it changed when it fails or is\n"
    "interrupted; an installation that was killed is undone by the next one.\n"
    "Exit codes: 0 done, 1 refused or failed, 2 usage.\n";

enum Exit { Done = 0, Failed = 1, Usage = 2 };

// The text of a key of the host's English language file.
QString text(const QString &key)
{
    static SysXmlDocument doc;
    static const bool loaded = doc.load(QStringLiteral(":/tessel-pkg/en.lang"));
    if (!loaded)
        return key;
    QDomElement current = doc.documentElement();
    for (const QString &part : key.split(QLatin1Char('/'))) {
        current = current.firstChildElement(part);
        if (current.isNull())
            return key;
    }
    return current.attribute(QStringLiteral("name"), key);
}

QString format(const Packages::PackageMessage &message)
{
    return formatPattern(text(message.key), message.args);
}

// Lines name paths from packages and templates: their control characters reach the terminal
// escaped, never raw.
void printLine(FILE *stream, const QString &line)
{
    std::fprintf(stream, "%s\n", terminalSafe(line.toUtf8().toStdString()).c_str());
}

void report(const Packages::PackageMessage &message)
{
    if (message.level == Packages::PackageMessage::Error)
        printLine(stderr, QStringLiteral("tessel-pkg: ") + format(message));
    else
        printLine(stdout, format(message));
}

Exit fail(const char *key, const QVariant &arg = QVariant())
{
    Packages::PackageMessage message{Packages::PackageMessage::Error, QLatin1String(key), {}};
    if (arg.isValid())
        message.args << arg;
    report(message);
    return Failed;
}

QString absolute(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

Exit pack(const QString &templatePath, const QString &packagePath)
{
    QStringList files;
    QString why;
    if (!Packages::loadTemplate(absolute(templatePath), files, &why)) {
        if (!why.isEmpty())
            printLine(stderr, QStringLiteral("tessel-pkg: ") + why);
        return fail("genPkg/tempMgr/tempLoadFailed");
    }
    if (files.isEmpty())
        return fail("genPkg/packListIsEmpty");
    Packages::PackageMessage error;
    if (!Packages::writePackage(files, absolute(packagePath), &error)) {
        report(error);
        return fail("genPkg/tempMgr/packFailed");
    }
    printLine(stdout, text(QStringLiteral("genPkg/tempMgr/packSuccess")));
    return Done;
}

Exit list(const QString &packagePath)
{
    QByteArray bytes;
    QVector<Packages::PackageEntry> entries;
    Packages::PackageMessage error;
    if (!Packages::readPackageFile(absolute(packagePath), bytes, &error)
        || !Packages::parsePackage(bytes, entries, error)) {
        printLine(stderr, QStringLiteral("tessel-pkg: %1: %2").arg(packagePath, format(error)));
        return Failed;
    }
    for (const Packages::PackageEntry &entry : entries)
        std::printf("%10d  %s\n", entry.dataSize,
                    terminalSafe(entry.path.toUtf8().toStdString()).c_str());
    return Done;
}

Exit install(const QString &packagePath)
{
    const QString path = absolute(packagePath);
    report({Packages::PackageMessage::Info, QStringLiteral("importPkg/plugin/startInstallFmt"), {path}});
    Packages::PackageInstaller installer(QDir::currentPath(), nullptr, &report);
    // For tests of interrupted installations: the process stops itself after that change.
    bool ok = false;
    const int stopAt = qEnvironmentVariableIntValue("TESSEL_PKG_STOP_AT", &ok);
    if (ok)
        installer.setStepHook([stopAt](int step) {
            if (step == stopAt)
                ::raise(SIGSTOP);
        });
    if (!installer.installPackage(path))
        return fail("importPkg/plugin/install/failed");
    printLine(stdout, text(QStringLiteral("importPkg/plugin/install/success")));
    return Done;
}

Exit usage(const char *problem)
{
    if (problem)
        std::fprintf(stderr, "tessel-pkg: %s\n", problem);
    std::fputs(kUsage, stderr);
    return Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Refused files are reported once, by the command that read them.
    QLoggingCategory::setFilterRules(QStringLiteral("tessel.xml.warning=false"));
    QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return Done;
    }
    if (!args.isEmpty() && args[0] == QLatin1String("-C")) {
        if (args.size() < 2)
            return usage("-C needs a folder");
        if (!QDir::setCurrent(args[1])) {
            std::fprintf(stderr, "tessel-pkg: cannot enter the folder %s\n",
                         args[1].toLocal8Bit().constData());
            return Failed;
        }
        args = args.mid(2);
    }
    if (args.isEmpty())
        return usage(nullptr);
    const QString command = args.takeFirst();
    // An interrupted pack or install is reported, and put back, before the signal ends the
    // process.
    Packages::Internal::SignalGuard guard;
    if (command == QLatin1String("pack") && args.size() == 2)
        return pack(args[0], args[1]);
    if (command == QLatin1String("list") && args.size() == 1)
        return list(args[0]);
    if (command == QLatin1String("install") && args.size() == 1)
        return install(args[0]);
    if (command == QLatin1String("pack") || command == QLatin1String("list")
        || command == QLatin1String("install"))
        return usage("wrong number of arguments");
    return usage("unknown command");
}
