// Kept apart from the composer so that the composer builds without Qt (the fuzz target).
#include <QTime>

#include "telegram.h"

namespace quarvel {

LocalTime local_wall_clock() {
    const QTime now = QTime::currentTime();
    return LocalTime{now.hour(), now.minute(), now.second(), now.msec()};
}

}  // namespace quarvel
