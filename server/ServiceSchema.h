#pragma once
// The service's tables, created on first start and kept on later starts, and the secret key
// that signs upload addresses and ID tokens (made once, then read back).

#include <QByteArray>

class Database;

namespace ServiceSchema {

void create(Database &db);
QByteArray signingKey(Database &db);

} // namespace ServiceSchema
