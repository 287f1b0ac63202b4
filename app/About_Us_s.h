// The About box: the program's name, version and release, shown modeless.
#pragma once

#include "platform/forms/Forms.h"

class TAbout_Us : public TForm {
public:
    ~TAbout_Us() override;
};

extern TAbout_Us* About_Us;
