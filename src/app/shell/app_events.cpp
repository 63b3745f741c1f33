#include "app/shell/app_events.hpp"

namespace chordwell::app {

AppEvents& AppEvents::instance() {
    static AppEvents events;
    return events;
}

} // namespace chordwell::app
