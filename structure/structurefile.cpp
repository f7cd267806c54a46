#include "structure/structurefile.h"

#include "common/safefile.h"

#include <QCoreApplication>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("StructureFile", text);
}

// The LAYER lines of a text, as written.
QStringList layerLines(const StructureText& text) {
    QStringList out;
    out.reserve(text.layerCount());
    for (int i = 0; i < text.layerCount(); ++i)
        out << text.line(text.layerLine(i));
    return out;
}

} // namespace

bool StructureFile::read(const QString& path) {
    path_ = path;
    read_ = false;
    error_.clear();
    bytes_.clear();
    identity_ = FileIdentity();
    if (!readRegularFile(path, maxBytes, bytes_, &error_, &identity_)) {
        bytes_.clear();
        text_ = StructureText();
        return false;
    }
    text_ = StructureText(bytes_);
    read_ = true;
    return true;
}

StructureFile::Edit StructureFile::edit(const std::function<bool(StructureText&)>& change) {
    Edit out;
    const auto fail = [&](const QString& why) {
        out.message = tr("Can't edit [%1]: %2.").arg(path_, why);
        return out;
    };
    if (!read_)
        return fail(error_.isEmpty() ? tr("it was not read") : error_);
    QByteArray now;
    QString why;
    FileIdentity identity;
    if (!readRegularFile(path_, maxBytes, now, &why, &identity))
        return fail(why);
    StructureText text(now);
    if (now != bytes_ && layerLines(text) != layerLines(text_)) {
        out.result = Edit::Stale;
        out.message = tr("Not written into [%1]: its LAYER lines changed on disk since it was "
                         "shown; it is shown again as it is now.")
                          .arg(path_);
        return out;
    }
    if (!text.exact())
        return fail(tr("its encoding cannot be written back byte for byte; it was left as it "
                       "is"));
    const int linesBefore = text.lineCount();
    const qint64 sizeBefore = text.text().size();
    if (!change(text))
        return fail(tr("it no longer holds that line"));
    const QByteArray changed = text.bytes();
    if (changed == now) {
        out.result = Edit::Unchanged;
        return out;
    }
    // The result must read back as the edited text, and lose no more lines and characters
    // than the edit removed.
    const StructureText check(changed);
    if (check.text() != text.text() || check.lineCount() + text.removedLines() < linesBefore ||
        check.text().size() + text.replacedCharacters() < sizeBefore)
        return fail(tr("the edit would change more than the values it names; it was left as "
                       "it is"));
    SafeFile file(path_);
    file.expectIdentity(identity);
    if (file.open(QIODevice::WriteOnly) && file.write(changed) != changed.size())
        file.cancelWriting();
    if (!file.commit()) {
        out.message = tr("Can't write [%1]: %2.").arg(path_, file.error());
        return out;
    }
    bytes_ = changed;
    text_ = StructureText(bytes_);
    identity_ = fileIdentity(path_);
    out.result = Edit::Written;
    return out;
}
