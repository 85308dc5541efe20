#include "platform/Component.h"

void TPersistent::Assign(const TPersistent& source)
{
    throw EConvertError(std::string("Cannot assign a ") + source.ClassName() + " to a " + ClassName());
}
