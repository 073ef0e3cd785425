// The cloud JSON-RPC endpoint as a process of its own, for the simulated device:
//   brellium_cloudpeer --loft NUMBER:PASSWORD [--port N] [--log FILE]
//                      [--fault KIND[:VALUE]]
// It listens on 127.0.0.1 (a free port unless --port is given), prints
// "cloud endpoint on 127.0.0.1:PORT", appends each call to the log as one
// line (method, id, loft number, code valid or the problems, payload,
// separated by tabs) and runs until SIGTERM.
#include "cloudendpoint.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <atomic>
#include <csignal>

namespace {

constexpr int kLogPollMs = 100;
std::atomic<bool> stopRequested{false};

void onSignal(int)
{
    stopRequested = true;
}

bool parseFault(const QString &text, CloudFault *kind, QByteArray *value)
{
    static const QMap<QString, CloudFault> kinds{
        {QStringLiteral("error"), CloudFault::ErrorText},       {QStringLiteral("error-object"), CloudFault::ErrorObject},
        {QStringLiteral("wrong-id"), CloudFault::WrongId},      {QStringLiteral("no-id"), CloudFault::MissingId},
        {QStringLiteral("body"), CloudFault::RawBody},          {QStringLiteral("status"), CloudFault::Status},
        {QStringLiteral("chunked"), CloudFault::Chunked},       {QStringLiteral("late"), CloudFault::Late},
        {QStringLiteral("silence"), CloudFault::Silence},       {QStringLiteral("close"), CloudFault::CloseMidReply},
        {QStringLiteral("reply"), CloudFault::RawReply},        {QStringLiteral("garbled-chunk"), CloudFault::GarbledChunk},
    };
    const int colon = int(text.indexOf(QLatin1Char(':')));
    const QString name = colon < 0 ? text : text.left(colon);
    if (!kinds.contains(name))
        return false;
    *kind = kinds.value(name);
    *value = colon < 0 ? QByteArray() : text.mid(colon + 1).toUtf8();
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The cloud JSON-RPC endpoint of the simulated device: checks each call's content type, "
        "layout, method, parameters and authentication code, records it and answers."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port on 127.0.0.1 (0: a free one)."),
                      QStringLiteral("n"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("loft"), QStringLiteral("A known loft and its password (repeatable)."),
                      QStringLiteral("number:password")});
    parser.addOption({QStringLiteral("log"), QStringLiteral("File each call is appended to."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("fault"),
                      QStringLiteral("Misbehave on every call: error:TEXT, error-object, wrong-id, no-id, body:TEXT, "
                                     "status:TEXT, chunked, late:MS, silence, close, reply:BYTES, garbled-chunk."),
                      QStringLiteral("kind[:value]")});
    parser.process(app);

    CloudEndpoint endpoint;
    for (const QString &loft : parser.values(QStringLiteral("loft"))) {
        const int colon = int(loft.indexOf(QLatin1Char(':')));
        if (colon <= 0) {
            QTextStream(stderr) << "--loft wants number:password\n";
            return 2;
        }
        endpoint.setLoft(loft.left(colon), loft.mid(colon + 1));
    }
    for (const QString &fault : parser.values(QStringLiteral("fault"))) {
        CloudFault kind = CloudFault::Silence;
        QByteArray value;
        if (!parseFault(fault, &kind, &value)) {
            QTextStream(stderr) << "unknown fault " << fault << '\n';
            return 2;
        }
        endpoint.addFault(kind, -1, value, kind == CloudFault::Late ? value.toInt() : 0);
    }
    if (!endpoint.begin(quint16(parser.value(QStringLiteral("port")).toUInt()))) {
        QTextStream(stderr) << "cannot listen\n";
        return 1;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QTextStream(stdout) << "cloud endpoint on 127.0.0.1:" << endpoint.port() << Qt::endl;

    const QString log = parser.value(QStringLiteral("log"));
    int logged = 0;
    while (!stopRequested) {
        QThread::msleep(kLogPollMs);
        const QList<CloudCall> calls = endpoint.calls();
        if (log.isEmpty() || calls.size() == logged)
            continue;
        QFile file(log);
        if (!file.open(QIODevice::Append | QIODevice::Text))
            continue;
        for (; logged < calls.size(); ++logged) {
            const CloudCall &c = calls.at(logged);
            const QString verdict = c.isValid() ? QStringLiteral("valid") : c.problems.join(QLatin1Char(';'));
            QTextStream(&file) << c.method << '\t' << c.id << '\t' << c.loftNum << '\t' << verdict << '\t'
                               << QString(c.payload).replace(QLatin1Char('\n'), QStringLiteral("\\n")) << '\n';
        }
    }
    return 0;
}
