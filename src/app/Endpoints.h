#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The outside addresses the program talks to.
struct Endpoints
{
    QUrl fortuneBase;  // pages live under <base>/astro/view/<slug>/day/
    QUrl notice;       // the version notice
    QUrl makerForum;   // Kw系列软件
    QUrl partnerForum; // 云帆联盟
    // The offline service's socket that systemd makes for every user; where
    // it is not there, the person's own (LocalService).
    QString systemSocket;
    // How the person's own service is started where the program finds it
    // gone; empty for a build that reads from other hosts.
    QString serviceProgram;
    QStringList serviceArguments;

    // The addresses the program was built with; defined in the program
    // itself (BuiltInEndpoints.cpp), not in the libraries. A forum given as
    // a relative folder is one installed beside the program, in appDir.
    static Endpoints builtIn(const QString &appDir);
    // All four on one local server, as the offline fortune service lays them out.
    static Endpoints onLocalService(const QUrl &base);
};
