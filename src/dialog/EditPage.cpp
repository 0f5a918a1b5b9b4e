// Gives the build a source beside EditPage.h so that its meta-object code is generated.
#include "dialog/EditPage.h"
