#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace platform {

// The object table of a "bplist00" file, walked the way libplist 2.2's reader will walk it,
// without building anything. check() refuses what that reader cannot take safely: cycles,
// nesting beyond a limit, expansion beyond a memory budget, and dictionary keys it would
// assert on or change (a key holding U+0000 aborts it). inexactness() then tells which of
// the values it builds differ from what the file holds.
class BinaryPropertyList
{
public:
    explicit BinaryPropertyList(const QByteArray& data) : m_data(data) {}

    bool check(int maxDepth, QString* error);

    quint64 topObject() const { return m_top; }
    // Number of references a container holds (a dictionary: its keys, then its values).
    quint64 referenceCount(quint64 object) const;
    // The object the i-th reference of a container points at.
    quint64 reference(quint64 object, quint64 i) const;
    // Why libplist's value for this object is not what the file holds; empty when it is.
    QString inexactness(quint64 object) const;

private:
    struct Object
    {
        uchar type = 0;        // high nibble of the marker
        uchar low = 0;         // low nibble of the marker
        quint64 length = 0;    // items, bytes or UTF-16 units
        quint64 payload = 0;   // offset of the bytes after the marker and length
        bool readable = false; // marker, length and payload lie inside the file
    };

    Object object(quint64 index) const;
    quint64 readUInt(quint64 at, int bytes) const;
    bool inside(quint64 at, quint64 length) const;
    qint64 expandedSize(quint64 index, int depth);
    qint64 containerSize(const Object& container, int depth);
    QString keyProblem(quint64 index) const;
    qint64 problem(const QString& why);

    const QByteArray& m_data;
    int m_maxDepth = 0;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_offsetTable = 0;
    quint64 m_top = 0;
    std::vector<qint64> m_sizes; // per object: its expanded size, or a walk mark
    QString m_problem;
};

} // namespace platform
