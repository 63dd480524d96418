// The in-memory image host is defined in its header.
#include "platform/fake_image_host.h"
