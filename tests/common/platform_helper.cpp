// Helper process for the platform tests.
//   platform_helper lock NAME         prints "running=0|1", then waits for stdin to close
//   platform_helper relaunch OPTIONS  relaunches itself with OPTIONS
//   platform_helper ARGS...           (a relaunched copy) writes its arguments and working
//                                     folder to $TESSEL_RECORD_FILE
#include "common/utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "lock") == 0) {
        std::printf("running=%d\n", alreadyRunning(argv[2]) ? 1 : 0);
        std::fflush(stdout);
        char buf[64];
        while (std::fread(buf, 1, sizeof buf, stdin) > 0) {
        }
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "relaunch") == 0) {
        std::string options;
        for (int i = 2; i < argc; ++i) {
            if (!options.empty())
                options += ' ';
            options += argv[i];
        }
        QCoreApplication app(argc, argv);
        // Waits until the copy has said it runs: the record is written by then.
        return relaunch(options) ? 0 : 3;
    }
    relaunchStarted();
    const QByteArray record = qgetenv("TESSEL_RECORD_FILE");
    if (record.isEmpty())
        return 2;
    QByteArray text = "cwd=" + QDir::currentPath().toLocal8Bit() + "\n";
    for (int i = 1; i < argc; ++i)
        text += QByteArray("arg=") + QByteArray(argv[i]) + "\n";
    QFile tmp(QString::fromLocal8Bit(record) + ".tmp");
    if (!tmp.open(QIODevice::WriteOnly))
        return 4;
    tmp.write(text);
    tmp.close();
    // Renamed into place so that the test never reads a half-written record.
    return QFile::rename(tmp.fileName(), QString::fromLocal8Bit(record)) ? 0 : 5;
}
