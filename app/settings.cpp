#include "app/settings.h"

ViewerSettings viewer_settings;
