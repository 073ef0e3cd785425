#include "core/configfile.h"

#include "core/jsonwriter.h"
#include "core/platform.h"
#include "core/servicefactory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace {
const char kConfigFile[] = "/app/main_program.config";
const char kUserSettings[] = "userSettings";

QString configPath()
{
    return Platform::path(QLatin1String(kConfigFile));
}

// The rename is durable only once the folder's entry is on the disk too.
bool syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}
} // namespace

bool ConfigFile::read(QByteArray *text)
{
    text->clear();
    QFile file(configPath());
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        ServiceFactory::debug(QStringLiteral("config read failed: ") + file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        ServiceFactory::debug(QStringLiteral("config read failed: ") + file.errorString());
        return false;
    }
    *text = content;
    return true;
}

QByteArray ConfigFile::withUserSettings(const QByteArray &oldText, unsigned int word)
{
    QVariantMap members = QJsonDocument::fromJson(oldText).object().toVariantMap();
    // An unsigned integer, never a double: the writer prints it in decimal.
    members.insert(QLatin1String(kUserSettings), QVariant::fromValue(word));
    return JsonWriter::write(members);
}

bool ConfigFile::saveUserSettings(unsigned int word)
{
    QByteArray oldText;
    if (!read(&oldText))
        return false;
    const QString path = configPath();
    QSaveFile file(path);
    // Never write in place: a cut would leave a short file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        ServiceFactory::debug(QStringLiteral("config write failed: ") + file.errorString());
        return false;
    }
    const QByteArray text = withUserSettings(oldText, word);
    if (file.write(text) != text.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        ServiceFactory::debug(QStringLiteral("config write failed: ") + file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        ServiceFactory::debug(QStringLiteral("config rename failed: ") + file.errorString());
        return false;
    }
    if (!syncFolder(QFileInfo(path).absolutePath()))
        ServiceFactory::debug(QStringLiteral("config folder sync failed"));
    return true;
}
