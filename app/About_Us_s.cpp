#include "app/About_Us_s.h"

TAbout_Us* About_Us = nullptr;

TAbout_Us::~TAbout_Us() {
    if (About_Us == this) About_Us = nullptr;
}
