#pragma once

#include "components/MessageBoxes.h"

namespace pellamark {

// The real message boxes: OK only, no icon, titled with the program's title, modal until closed.
class QtMessageBoxes : public MessageBoxes {
public:
    void MsgBox(const QString& text) override;
};

} // namespace pellamark
