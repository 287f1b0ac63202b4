#include "rasterformats/RasterFormats.h"

#include "platform/core/Icon.h"
#include "platform/core/Jpeg.h"
#include "platform/core/Metafile.h"
#include "rasterformats/AliasWavefront.h"
#include "rasterformats/Autodesk.h"
#include "rasterformats/DrHalo.h"
#include "rasterformats/PCX.h"
#include "rasterformats/PaintshopPro.h"
#include "rasterformats/PhotoCD.h"
#include "rasterformats/Photoshop.h"
#include "rasterformats/PortableMap.h"
#include "rasterformats/Png.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/SGI.h"
#include "rasterformats/TIFF.h"
#include "rasterformats/Targa.h"

// ------------------------------------------------------------ TFileFormatList

TFileFormatList::~TFileFormatList() { Clear(); }

int TFileFormatList::IndexOfExtension(const std::string& extension) const {
    if (extension.empty()) return -1;
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (CompareText(extensions_[i]->extension, extension) == 0) return static_cast<int>(i);
    return -1;
}

int TFileFormatList::IndexOfClass(const TGraphicClass& graphicClass) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i]->graphicClass == &graphicClass) return static_cast<int>(i);
    return -1;
}

TFileFormatList::TFormatClassEntry& TFileFormatList::Bind(TFormatExtensionEntry& entry, const std::string& common,
                                                          const TGraphicClass& cls) {
    const int index = IndexOfClass(cls);
    TFormatClassEntry* classEntry;
    if (index >= 0) {
        classEntry = classes_[static_cast<size_t>(index)].get();
    } else {
        classes_.push_back(std::make_unique<TFormatClassEntry>(TFormatClassEntry{&cls, std::string(), 0}));
        classEntry = classes_.back().get();
    }
    if (!common.empty()) classEntry->description = common;
    ++classEntry->count;
    entry.classEntry = classEntry;
    return *classEntry;
}

void TFileFormatList::RemoveClassEntry(TFormatClassEntry* entry) {
    std::erase_if(classes_, [entry](const auto& c) { return c.get() == entry; });
}

void TFileFormatList::UnregisterClass(const TGraphicClass& graphicClass) {
    TPicture::UnregisterGraphicClass(graphicClass);
    if (OnClassUnregistered) OnClassUnregistered(graphicClass);
}

void TFileFormatList::RegisterFormat(const std::string& extension, const std::string& common,
                                     const std::string& individual, TFormatTypes formatTypes, bool replace,
                                     const TGraphicClass& graphicClass) {
    if (extension.empty()) return;
    const int index = IndexOfExtension(extension);
    TFormatExtensionEntry* entry;
    if (index < 0) {
        extensions_.push_back(
            std::make_unique<TFormatExtensionEntry>(TFormatExtensionEntry{extension, individual, formatTypes, nullptr}));
        entry = extensions_.back().get();
        Bind(*entry, common, graphicClass);
    } else {
        if (!replace) throw EInvalidGraphic(Format(raster::kRegisterTwice, extension.c_str()));
        entry = extensions_[static_cast<size_t>(index)].get();
        TFormatClassEntry* old = entry->classEntry;
        if (old->graphicClass != &graphicClass) {
            Bind(*entry, common, graphicClass);
            if (--old->count <= 0) RemoveClassEntry(old);
        }
    }
    const std::string description = entry->description.empty() ? entry->classEntry->description : entry->description;
    TPicture::RegisterFileFormat(extension, description, graphicClass);
}

void TFileFormatList::UnregisterFormat(const std::string& extension, const TGraphicClass& graphicClass) {
    if (!extension.empty()) {
        const int index = IndexOfExtension(extension);
        if (index < 0) return;
        TFormatClassEntry* classEntry = extensions_[static_cast<size_t>(index)]->classEntry;
        if (--classEntry->count <= 0) {
            UnregisterClass(*classEntry->graphicClass);
            RemoveClassEntry(classEntry);
        }
        extensions_.erase(extensions_.begin() + index);
        return;
    }
    // A whole class; one that was never registered leaves everything as it is.
    const int classIndex = IndexOfClass(graphicClass);
    if (classIndex < 0) return;
    TFormatClassEntry* classEntry = classes_[static_cast<size_t>(classIndex)].get();
    for (size_t i = extensions_.size(); i-- > 0 && classEntry->count > 0;) {
        if (extensions_[i]->classEntry != classEntry) continue;
        --classEntry->count;
        extensions_.erase(extensions_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    RemoveClassEntry(classEntry);
    UnregisterClass(graphicClass);
}

void TFileFormatList::Clear() {
    for (const auto& c : classes_) UnregisterClass(*c->graphicClass);
    classes_.clear();
    extensions_.clear();
}

// ------------------------------------------------------------ start-up and shut-down

namespace {

using ClassOf = const TGraphicClass& (*)();

struct Registration {
    const char* extension;
    const char* common;
    const char* individual;
    TFormatTypes types;
    ClassOf graphicClass;
};

// The order in which the extensions are registered. Each reader's rows stand
// at its family's place; a family without a reader yet has only its heading.
const Registration kRegistrations[] = {
    // The platform's own classes, again, under the library's descriptions.
    {"bmp", raster::kWindowsBitmaps, "", ftRaster, &TBitmap::StaticClass},
    {"ico", raster::kWindowsIcons, "", ftRaster, &TIcon::StaticClass},
    {"wmf", raster::kWindowsMetafiles, "", ftVector, &TMetafile::StaticClass},
    {"emf", raster::kWindowsMetafiles, raster::kEnhancedMetafiles, ftVector, &TMetafile::StaticClass},
    {"jfif", raster::kJPGImages, raster::kJFIFImages, ftRaster, &TJPEGImage::StaticClass},
    {"jpg", "", raster::kJPGImages, ftRaster, &TJPEGImage::StaticClass},
    {"jpe", "", raster::kJPEImages, ftRaster, &TJPEGImage::StaticClass},
    {"jpeg", "", raster::kJPEGImages, ftRaster, &TJPEGImage::StaticClass},
    {"rle", raster::kWindowsBitmaps, raster::kRLEBitmaps, ftRaster, &TBitmap::StaticClass},
    {"dib", "", raster::kDIBBitmaps, ftRaster, &TBitmap::StaticClass},
    // Truevision
    {"win", raster::kTruevisionImages, "", ftRaster, &TTargaGraphic::StaticClass},
    {"vst", "", "", ftRaster, &TTargaGraphic::StaticClass},
    {"vda", "", "", ftRaster, &TTargaGraphic::StaticClass},
    {"tga", "", "", ftRaster, &TTargaGraphic::StaticClass},
    {"icb", "", "", ftRaster, &TTargaGraphic::StaticClass},
    // Tagged image file format
    {"tiff", raster::kTIFFImages, raster::kMacTIFFImages, TFormatTypes(ftRaster | ftMultiImage), &TTIFFGraphic::StaticClass},
    {"tif", "", raster::kPCTIFImages, TFormatTypes(ftRaster | ftMultiImage), &TTIFFGraphic::StaticClass},
    {"fax", "", raster::kGFIFaxImages, TFormatTypes(ftRaster | ftMultiImage), &TTIFFGraphic::StaticClass},
    // Encapsulated Postscript
    {"eps", raster::kEPSImages, "", ftRaster, &TEPSGraphic::StaticClass},
    // ZSoft Paintbrush
    {"pcx", raster::kPCXImages, "", ftRaster, &TPCXGraphic::StaticClass},
    {"pcc", "", "", ftRaster, &TPCXGraphic::StaticClass},
    {"scr", "", raster::kWordScreenImages, ftRaster, &TPCXGraphic::StaticClass},
    // Alias/Wavefront
    {"rpf", raster::kRLAImages, "", ftRaster, &TRLAGraphic::StaticClass},
    {"rla", "", "", ftRaster, &TRLAGraphic::StaticClass},
    // SGI
    {"sgi", raster::kSGIImages, raster::kSGITrueColorImages, ftRaster, &TSGIGraphic::StaticClass},
    {"rgba", "", raster::kSGIAlphaImages, ftRaster, &TSGIGraphic::StaticClass},
    {"rgb", "", raster::kSGITrueColorImages, ftRaster, &TSGIGraphic::StaticClass},
    {"bw", "", raster::kSGIMonoImages, ftRaster, &TSGIGraphic::StaticClass},
    // Photoshop
    {"psd", raster::kPSDImages, "", TFormatTypes(ftRaster | ftLayered), &TPSDGraphic::StaticClass},
    {"pdd", "", "", TFormatTypes(ftRaster | ftLayered), &TPSDGraphic::StaticClass},
    // Portable maps
    {"ppm", raster::kPortableMapImages, raster::kPPMImages, ftRaster, &TPPMGraphic::StaticClass},
    {"pgm", "", raster::kPGMImages, ftRaster, &TPPMGraphic::StaticClass},
    {"pbm", "", raster::kPBMImages, ftRaster, &TPPMGraphic::StaticClass},
    // Autodesk
    {"cel", raster::kAutodeskImages, "", ftRaster, &TAutodeskGraphic::StaticClass},
    {"pic", raster::kAutodeskImages, "", ftRaster, &TAutodeskGraphic::StaticClass},
    // Kodak Photo-CD
    {"pcd", raster::kPCDImages, "", ftRaster, &TPCDGraphic::StaticClass},
    // Dr. Halo
    {"cut", raster::kCUTImages, "", ftRaster, &TCUTGraphic::StaticClass},
    // Paintshop Pro
    {"psp", raster::kPSPImages, "", TFormatTypes(ftRaster | ftVector), &TPSPGraphic::StaticClass},
    // Portable network graphics
    {"png", raster::kPNGImages, "", ftRaster, &TPNGGraphic::StaticClass},
};

TFileFormatList*& TheList() {
    static TFileFormatList* list = nullptr;
    return list;
}

}  // namespace

TFileFormatList* FileFormatList() { return TheList(); }

void RegisterRasterFormats() {
    TFileFormatList*& list = TheList();
    if (list == nullptr) list = new TFileFormatList;
    for (const Registration& r : kRegistrations)
        list->RegisterFormat(r.extension, r.common, r.individual, r.types, false, r.graphicClass());
}

void UnregisterRasterFormats() {
    TFileFormatList*& list = TheList();
    if (list == nullptr) return;
    // The readers leave class by class, in this order (each reader at its
    // family's place), then the bitmap's second and third extensions; the
    // list takes the rest with it.
    list->UnregisterFormat("", TPSPGraphic::StaticClass());
    list->UnregisterFormat("", TPSDGraphic::StaticClass());
    list->UnregisterFormat("", TTargaGraphic::StaticClass());
    list->UnregisterFormat("", TTIFFGraphic::StaticClass());
    list->UnregisterFormat("", TSGIGraphic::StaticClass());
    list->UnregisterFormat("", TPCXGraphic::StaticClass());
    list->UnregisterFormat("", TAutodeskGraphic::StaticClass());
    list->UnregisterFormat("", TPCDGraphic::StaticClass());
    list->UnregisterFormat("", TPPMGraphic::StaticClass());
    list->UnregisterFormat("", TCUTGraphic::StaticClass());
    list->UnregisterFormat("", TRLAGraphic::StaticClass());
    list->UnregisterFormat("rle", TBitmap::StaticClass());
    list->UnregisterFormat("dib", TBitmap::StaticClass());
    list->UnregisterFormat("", TPNGGraphic::StaticClass());
    delete list;
    list = nullptr;
}
