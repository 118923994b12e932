// The AutoPartition window (Form2): built at run time over the main window, it lists the removable
// disks and the partition layouts and starts the repartition run.
#pragma once

#include "platform/Platform.h"

namespace qel {

class RepartitionWindow {
public:
    WindowId window = 0;  // the window itself
};

}  // namespace qel
