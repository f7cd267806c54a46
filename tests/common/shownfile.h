#pragma once

#include "app/shownfile.h"

#include <memory>

namespace xrdtest {

// The structure file at `path` as the document shows it to the layer table and the sliders:
// read once and loaded (the sliders read the scans themselves, as no road read them).
inline std::shared_ptr<const ShownFile> shownFileOf(const QString& path) {
    auto shown = std::make_shared<ShownFile>();
    shown->file.read(path);
    Config loader;
    if (loader.load(shown->file))
        shown->structure = loader;
    return shown;
}

} // namespace xrdtest
