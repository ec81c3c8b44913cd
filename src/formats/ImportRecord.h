#pragma once

#include "RdpCommon.h"

#include <QString>
#include <vector>

// A password that the file holds encrypted under a master password that the
// reader did not know; the user may give it (see OpenSealedPasswords).
struct TSealedPassword {
    QString Cipher;      // as the file has it
    int Iterations = 0;  // of the key derivation
    QString MasterCheck; // the file's own check of the master password; may be empty

    bool operator==(const TSealedPassword &) const = default;
};

// One server read from another program's connection file.
struct TImportRecord {
    TClientSettings Settings;
    QString Description;    // the name the file gave the server, and its comment
    QString Group;          // the group (path) the file put it in; empty for none
    TSealedPassword Sealed; // Cipher empty when there is none

    bool operator==(const TImportRecord &) const = default;
};

// The longest description kept: what the settings dialog's field holds.
inline constexpr qsizetype MaxDescriptionLength = 32767;

// Something about one entry of a file that the user is told: why it was
// skipped, or what of it could not be brought over.
struct TImportNote {
    QString Entry; // the entry's name or address as the file has it
    QString Text;

    bool operator==(const TImportNote &) const = default;
};

// What one file gave. A file that cannot be read at all gives no result: its
// reader throws an AppError that says why, and nothing of it is imported.
struct TImportResult {
    QString Source; // the file's name
    std::vector<TImportRecord> Records;
    std::vector<TImportNote> Skipped; // entries not imported, with the reason
    std::vector<TImportNote> Notes;   // imported entries that lost something (an encrypted password)
};

// Texts shared by the readers.
namespace ImportText {
QString EncryptedPassword();
QString NotRdp(const QString &protocol);
QString NoAddress();
QString BadAddress(const QString &address);
QString ColorDepthChanged(int depth, int used);
QString DescriptionCut();
QString SealedPassword();
QString DamagedPassword();
QString TooDeep(int levels);
} // namespace ImportText

// The description of an entry: its name, and its comment after a dash when it has
// one; line breaks become blanks (the field holds one line), and a text longer than
// the field is cut, with a note.
QString ImportDescription(const QString &name, const QString &comment, const QString &entry,
                          std::vector<TImportNote> &notes);

// Sets the address and port of a record from an address text (which may carry a
// port) and a port the file gives apart (0 for none). Returns false, with the
// entry noted as skipped, when the text is empty or no address.
bool SetImportAddress(TClientSettings &settings, const QString &address, int port, const QString &entry,
                      std::vector<TImportNote> &skipped);
// Sets the desktop size when both numbers are positive; else the defaults stay.
void SetImportSize(TClientSettings &settings, int width, int height);

// The colour depth to keep for the bits per pixel a file gives: the same when it
// is one of the catalogue's depths; 24 for 0 (the file leaves it open); 32 for
// the larger codes that stand for the newer graphics modes; else 24 with a note.
int ImportColorDepth(int bitsPerPixel, const QString &entry, std::vector<TImportNote> &notes);

// The text of a file as UTF-16 with a byte order mark (either order), UTF-8 with
// or without one, or UTF-16 LE without a mark. Throws an AppError naming the file
// when the bytes are none of these, or are cut off in the middle of a character.
QString DecodeImportText(const QByteArray &bytes, const QString &fileName);
// Throws an AppError: the file cannot be imported, and why.
[[noreturn]] void ThrowUnreadable(const QString &fileName, const QString &why);
