#include "storage/storage.h"

#include "storage/pigeonrecord.h"

#include <QSharedPointer>

// The write of one basketing mark. The record and its marking entry in the
// event log go together or not at all: a mark without its entry, or an entry
// for a mark that was never stored, would misstate what was basketed.

bool Storage::saveMark(const PigeonRecord *record)
{
    const QString ring = record->eringNum.isNull() ? QStringLiteral("") : record->eringNum;
    bool stored = false;
    inTransaction(
        [&] {
            // Read again under the write lock: the row must still carry the
            // ring read at the reader, and a pigeon basketed for another race
            // is never moved out of it.
            const QSharedPointer<PigeonRecord> current = findRecordById(record->assocNum);
            if (!current || current->eringNum != ring)
                return;
            if (current->markTime != 0 && current->raceCode != record->raceCode)
                return;
            _updateRecord(record);
            logRaceMark(record);
            stored = true;
        },
        QStringLiteral("Commit failed!"));
    return stored;
}
