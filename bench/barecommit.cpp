#include "barecommit.h"

#include "storage/storage.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>

std::vector<double> bareCommitsMs(const QString &dir, int commits)
{
    std::vector<double> times;
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-bare"));
        raw.setDatabaseName(dir + QStringLiteral("/bare.db3"));
        if (!raw.open())
            return times;
        QSqlQuery q(raw);
        // The journal and the sync of the program's own file: a commit
        // equally durable, so that the ratio shows the program's own work.
        for (const QString &setting : Storage::connectionSettings())
            q.exec(setting);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("create table t(id INTEGER PRIMARY KEY, v BIGINT)"));
        QElapsedTimer timer;
        for (int i = 0; i < commits; ++i) {
            timer.start();
            q.exec(QStringLiteral("insert into t(v) values(%1)").arg(i));
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        q.finish();
        raw.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-bare"));
    return times;
}
