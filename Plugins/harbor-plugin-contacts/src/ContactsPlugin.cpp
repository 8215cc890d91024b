#include "ContactsPlugin.h"

#include "HBRContacts.h"

namespace harbor {

void registerContactsPlugin(plat::ClassRegistry& registry) { registry.registerClass<HBRContacts>("HBRContacts"); }

}  // namespace harbor
