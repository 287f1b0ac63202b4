// The raster library's file-format registry: its own list of the extensions
// it serves, each bound to a picture class and a description, mirrored into
// the platform's picture registry. RegisterRasterFormats fills it at
// start-up (from app/Codecs.cpp, never from a static initialiser) and
// UnregisterRasterFormats empties it at shut-down, taking every class it
// registered, the platform's own included, out of the picture registry.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"

// Bits of a registration's format types; stored, not read.
using TFormatTypes = uint8_t;
inline constexpr TFormatTypes ftLayered = 2;
inline constexpr TFormatTypes ftMultiImage = 4;
inline constexpr TFormatTypes ftRaster = 8;
inline constexpr TFormatTypes ftVector = 16;

class TFileFormatList : public TObject {
public:
    struct TFormatClassEntry {
        const TGraphicClass* graphicClass;
        std::string description;  // the last non-empty common description given
        int count;                // extension entries that refer to it
    };
    struct TFormatExtensionEntry {
        std::string extension;  // without the dot, as registered
        std::string description;
        TFormatTypes formatTypes;
        TFormatClassEntry* classEntry;
    };

    TFileFormatList() = default;
    ~TFileFormatList() override;
    const char* ClassName() const override { return "TFileFormatList"; }

    // Adds or rebinds one extension and registers it with the picture
    // registry under the individual description, else the class's common
    // one. A known extension (case ignored) without replace raises
    // EInvalidGraphic "Attempt to register <ext> twice." and changes nothing.
    void RegisterFormat(const std::string& extension, const std::string& common, const std::string& individual,
                        TFormatTypes formatTypes, bool replace, const TGraphicClass& graphicClass);
    // One extension, or with an empty extension every extension of the
    // class. The picture registry forgets the class with its last extension.
    void UnregisterFormat(const std::string& extension, const TGraphicClass& graphicClass);
    int IndexOfExtension(const std::string& extension) const;
    int IndexOfClass(const TGraphicClass& graphicClass) const;
    // Unregisters every class from the picture registry, in list order.
    void Clear();

    // Told of each class the list takes out of the picture registry, as it
    // does so.
    std::function<void(const TGraphicClass&)> OnClassUnregistered;

    const std::vector<std::unique_ptr<TFormatClassEntry>>& Classes() const { return classes_; }
    const std::vector<std::unique_ptr<TFormatExtensionEntry>>& Extensions() const { return extensions_; }

private:
    TFormatClassEntry& Bind(TFormatExtensionEntry& entry, const std::string& common, const TGraphicClass& cls);
    void RemoveClassEntry(TFormatClassEntry* entry);
    void UnregisterClass(const TGraphicClass& graphicClass);

    std::vector<std::unique_ptr<TFormatClassEntry>> classes_;
    std::vector<std::unique_ptr<TFormatExtensionEntry>> extensions_;
};

// The one list, from RegisterRasterFormats to UnregisterRasterFormats;
// nullptr outside that time.
TFileFormatList* FileFormatList();

// Registers the library's extensions in their fixed order. Called again
// without UnregisterRasterFormats in between it raises "Attempt to register
// bmp twice." and changes nothing.
void RegisterRasterFormats();
void UnregisterRasterFormats();
