#pragma once
// The small organisation every fresh data folder starts with: people (one of them known only
// by a bare UUID user name, one whose sign-in session is stale after a password change) and
// viewer groups, one of which is an exclusion list. Written once; later starts keep edits.

class Database;

namespace OrganisationSeed {

void seedOnce(Database &db);

} // namespace OrganisationSeed
