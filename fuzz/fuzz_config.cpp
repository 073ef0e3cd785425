// The configuration file the program reads at start: any text gives a flags
// word, and only a whole JSON number in the word's range sets one.
#include "core/myapp.h"
#include "fuzzsupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Fuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = Fuzz::bytes(data, size);
    const unsigned int flags = MyApp::parseUserSettings(text);
    if (flags != 0) {
        const QJsonValue value = QJsonDocument::fromJson(text).object().value(QStringLiteral("userSettings"));
        FUZZ_CHECK(value.isDouble() && value.toDouble() == double(flags));
    }
    return 0;
}
