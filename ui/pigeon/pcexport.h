#pragma once

#include <QByteArray>

#include <functional>

class LoftInfo;
class PigeonRecord;
class Storage;

// The lines of the export to the PC program: one JSON object a line, each
// followed by CR LF, written by the shared JSON writer (keys in ascending
// order, only the seven escapes, every other character raw). The PC program
// reads them as they are: "Racecode" keeps its lower-case c, training lines
// carry "0" there. Plain functions, any thread; the screen sends the lines.
class PcExport
{
public:
    static QByteArray startLine(const LoftInfo &loft);
    // A race arrival ("record"), or with training set a training arrival
    // ("t-record", "Racecode" "0"). The arrival time is the device's local
    // time in the shared date-time pattern.
    static QByteArray recordLine(const PigeonRecord &record, bool training);
    static QByteArray endLine();

    // Takes one line; false stops the export.
    using LineSink = std::function<bool(const QByteArray &line)>;
    // The whole export in its order: the start line, the arrivals of every
    // race by liberation time then code (each race's by ring time), the
    // training arrivals of ringed pigeons by ring time, the end line. Reads
    // through storage as it goes, so only one line is held at a time.
    // False when the sink refused a line (the rest is not read); a database
    // failure is thrown.
    static bool run(const LoftInfo &loft, Storage *storage, const LineSink &sink);
};
