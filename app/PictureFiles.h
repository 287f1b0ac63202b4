// Reading a picture file into a bitmap by its name, and writing metafiles.
#pragma once

#include <memory>
#include <string>

#include "platform/core/Graphics.h"

// Reads the file by its name's last four characters (".BMP", ".ICO",
// ".JPG"/"JPEG", ".GIF", ".WMF"/".EMF"). Returns nullptr when no such file
// exists and an empty bitmap for any other extension. Corrupt files raise
// the picture class's EInvalidGraphic.
std::unique_ptr<TBitmap> LoadPictureFile(const std::string& fileName);

// Writes graphic as an enhanced metafile holding it as a 24-bit bitmap,
// under fileName with its extension replaced by ".wmf".
void SaveAsMetafile(const TGraphic& graphic, const std::string& fileName);
