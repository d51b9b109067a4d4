#include "platform/FileVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <QtEndian>

#include <elf.h>

#include <cstring>

namespace {

constexpr std::uint32_t kNoteType = 0x56455253; // "VERS"
constexpr char kOwner[] = "Corvane";

bool read_at(QFile& f, qint64 off, void* dst, qint64 len)
{
    return off >= 0 && len >= 0 && off <= f.size() && len <= f.size() - off && f.seek(off)
        && f.read(static_cast<char*>(dst), len) == len;
}

// Walks the notes of one SHT_NOTE / PT_NOTE block; bounds checked, corrupt sizes give nothing.
QString version_in_notes(const QByteArray& block)
{
    qsizetype pos = 0;
    while (block.size() - pos >= 12) {
        const char* at = block.constData() + pos;
        const std::uint32_t hdr[3] = {qFromUnaligned<std::uint32_t>(at), qFromUnaligned<std::uint32_t>(at + 4),
                                      qFromUnaligned<std::uint32_t>(at + 8)};
        const qsizetype nameLen = (qsizetype(hdr[0]) + 3) & ~qsizetype(3);
        const qsizetype descLen = (qsizetype(hdr[1]) + 3) & ~qsizetype(3);
        pos += 12;
        if (nameLen > block.size() - pos || descLen > block.size() - pos - nameLen)
            return QString();
        if (hdr[2] == kNoteType && hdr[0] == sizeof kOwner && hdr[1] == 8
            && std::memcmp(block.constData() + pos, kOwner, sizeof kOwner) == 0) {
            std::uint16_t v[4];
            std::memcpy(v, block.constData() + pos + nameLen, 8);
            return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
        }
        pos += nameLen + descLen;
    }
    return QString();
}

} // namespace

QString get_file_version(const QString& fileName)
{
    QString path = fileName;
    bool blank = true;
    for (QChar c : fileName)
        blank = blank && c.unicode() <= 32;
    if (blank)
        path = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                            : QStringLiteral("/proc/self/exe");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    Elf64_Ehdr eh {};
    if (!read_at(f, 0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0
        || eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_ident[EI_DATA] != ELFDATA2LSB
        || eh.e_shentsize != sizeof(Elf64_Shdr))
        return QString();
    for (int i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh {};
        if (!read_at(f, qint64(eh.e_shoff) + qint64(i) * qint64(sizeof sh), &sh, sizeof sh))
            return QString();
        if (sh.sh_type != SHT_NOTE || sh.sh_size > (1u << 20))
            continue;
        QByteArray block(qsizetype(sh.sh_size), Qt::Uninitialized);
        if (!read_at(f, qint64(sh.sh_offset), block.data(), block.size()))
            continue;
        const QString version = version_in_notes(block);
        if (!version.isEmpty())
            return version;
    }
    return QString();
}
