#pragma once

#include "device/lfmodule.h"

#include <QList>
#include <QPair>
#include <QString>

// The readings the race engine holds because they could not be stored yet,
// in a small file beside the database that survives a power cut: each held
// reading with its original time (the only true one: the module's readings
// carry none of their own) in a fixed slot, synced, and marked done once the
// reading is stored. The file is allocated whole when opened, so that a full
// disk still takes the readings that made it full. Service thread only.
class ArrivalJournal
{
public:
    // The file's name, relative to the working directory like the database.
    static constexpr char kFileName[] = "data_20200505.db3-arrivals";
    static constexpr int kSlots = 512;

    ArrivalJournal() = default;
    ~ArrivalJournal();
    ArrivalJournal(const ArrivalJournal &) = delete;
    ArrivalJournal &operator=(const ArrivalJournal &) = delete;

    // Opens (or creates and allocates) the file; the readings still held in
    // it, by slot, in the order they were held. False when the file cannot
    // be used: readings are then held in memory only.
    bool open(QList<QPair<int, LFTAG_INFO>> *held);
    void close();
    // Keeps one reading; its slot, or -1 when the file is full or unusable.
    int append(const LFTAG_INFO &tag);
    // The reading of this slot is stored (or needs no storing any more).
    void markDone(int slot);

private:
    bool writeSlot(int slot, const QByteArray &bytes);

    int fd = -1;
    int nextSlot = 0;
    int heldCount = 0;
};
