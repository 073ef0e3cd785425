#include "race/arrivaljournal.h"

#include "core/servicefactory.h"

#include <QByteArray>
#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One slot: a state byte, the fields as text, a checksum, padded with blanks
// and ended by a line feed, so that the file can be read by eye.
constexpr int kSlotBytes = 96;
constexpr char kEmpty = '\0';
constexpr char kHeld = 'H';
constexpr char kDone = 'D';
constexpr off_t kFileBytes = off_t(ArrivalJournal::kSlots) * kSlotBytes;

QByteArray fieldsOf(const LFTAG_INFO &tag)
{
    // Ring and uid are hex digits (the engine takes no other ring); an empty
    // uid is written as "-" so that every field is one word.
    return tag.eRing.toLatin1() + ' ' + QByteArray::number(tag.randNum) + ' '
        + (tag.uid.isEmpty() ? QByteArray("-") : tag.uid.toLatin1()) + ' ' + QByteArray::number(tag.stored) + ' '
        + QByteArray::number(tag.time);
}

QByteArray checksumOf(const QByteArray &fields)
{
    return QByteArray::number(qChecksum(fields), 16).rightJustified(4, '0');
}

// A slot's reading, or false for a slot that is empty, done, torn or damaged.
bool parseHeld(const QByteArray &slot, LFTAG_INFO *tag)
{
    if (slot.isEmpty() || slot.at(0) != kHeld)
        return false;
    const QList<QByteArray> words = slot.mid(1).simplified().split(' ');
    if (words.size() != 6 || words.at(5) != checksumOf(words.mid(0, 5).join(' ')))
        return false;
    bool ok[3] = {};
    tag->eRing = QString::fromLatin1(words.at(0));
    tag->randNum = words.at(1).toInt(&ok[0]);
    tag->uid = words.at(2) == "-" ? QString() : QString::fromLatin1(words.at(2));
    tag->stored = words.at(3).toInt(&ok[1]);
    tag->time = words.at(4).toLongLong(&ok[2]);
    return ok[0] && ok[1] && ok[2];
}

} // namespace

ArrivalJournal::~ArrivalJournal()
{
    close();
}

bool ArrivalJournal::open(QList<QPair<int, LFTAG_INFO>> *held)
{
    close();
    fd = ::open(kFileName, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        ServiceFactory::debug(QStringLiteral("ArrivalJournal: cannot open ") + QLatin1String(kFileName));
        return false;
    }
    QByteArray content(int(kFileBytes), kEmpty);
    const ssize_t read = ::pread(fd, content.data(), size_t(kFileBytes), 0);
    // Allocated whole now, while there is room: on a full disk only writes
    // into blocks the file already has still succeed.
    if (read < kFileBytes && ::posix_fallocate(fd, 0, kFileBytes) != 0) {
        ServiceFactory::debug(QStringLiteral("ArrivalJournal: cannot allocate ") + QLatin1String(kFileName));
        close();
        return false;
    }
    nextSlot = 0;
    heldCount = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
        const QByteArray bytes = content.mid(slot * kSlotBytes, kSlotBytes);
        if (bytes.at(0) != kEmpty)
            nextSlot = slot + 1;
        LFTAG_INFO tag;
        if (parseHeld(bytes, &tag)) {
            held->append(qMakePair(slot, tag));
            ++heldCount;
        }
    }
    if (heldCount == 0)
        nextSlot = 0;
    return true;
}

void ArrivalJournal::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int ArrivalJournal::append(const LFTAG_INFO &tag)
{
    if (fd < 0 || nextSlot >= kSlots)
        return -1;
    const QByteArray fields = fieldsOf(tag);
    QByteArray bytes = kHeld + fields + ' ' + checksumOf(fields);
    if (bytes.size() >= kSlotBytes)
        return -1;
    bytes = bytes.leftJustified(kSlotBytes - 1, ' ') + '\n';
    const int slot = nextSlot;
    if (!writeSlot(slot, bytes))
        return -1;
    ++nextSlot;
    ++heldCount;
    return slot;
}

void ArrivalJournal::markDone(int slot)
{
    if (fd < 0 || slot < 0 || slot >= kSlots)
        return;
    if (!writeSlot(slot, QByteArray(1, kDone)))
        return;
    // Nothing held any more: the slots are used again from the start.
    if (--heldCount <= 0) {
        heldCount = 0;
        nextSlot = 0;
    }
}

bool ArrivalJournal::writeSlot(int slot, const QByteArray &bytes)
{
    const off_t offset = off_t(slot) * kSlotBytes;
    if (::pwrite(fd, bytes.constData(), size_t(bytes.size()), offset) != ssize_t(bytes.size())
        || ::fdatasync(fd) != 0) {
        ServiceFactory::debug(QStringLiteral("ArrivalJournal: write failed in slot ") + QString::number(slot));
        return false;
    }
    return true;
}
