#include "server/OrganisationSeed.h"

#include "server/Database.h"

namespace {

struct Person {
    const char *id;
    const char *displayName;
    const char *email;
    const char *userName;
    bool stalePassword;
};

struct Group {
    const char *id;
    const char *name;
    const char *description;
    const char *ownerId;
    bool isExclusionList;
    std::initializer_list<const char *> memberIds;
};

constexpr const char *kAna = "9f4cbbe5-5e45-4ea1-a6a8-005908459783";
constexpr const char *kBen = "30704cb3-ec63-42fa-bbc7-de2dc13666e1";
constexpr const char *kChloe = "9b056733-a704-4f33-9ac7-5e3df1a90a56";
constexpr const char *kDaniel = "951d3379-0585-4e45-925b-3ffb8d2233e0";
constexpr const char *kEmma = "b5488fcd-d71e-427c-beb9-c9328d4dc7b5";
constexpr const char *kFarid = "70ec0cb3-5c95-4ef7-8d0f-240cc6d5baf0";
constexpr const char *kGrace = "e51962cc-515e-4f87-bc5d-b8022844945a";
constexpr const char *kKwame = "58693487-ad34-4a2f-9524-5ccc5f78fba7";
constexpr const char *kPriya = "ee5abe00-f50f-4bcd-abef-cb80d6e52c90";
constexpr const char *kSofia = "82215e67-6310-443b-8a92-61e8c68ba6ea";
constexpr const char *kTomas = "cce25448-29f5-482c-9c57-40771937bec8";

const Person kPeople[] = {
    {kAna, "Ana Ferreira", "ana.ferreira@brisvale.example", "ana.ferreira@brisvale.example", false},
    {kBen, "Ben Okafor", "ben.okafor@brisvale.example", "ben.okafor@brisvale.example", false},
    {kChloe, "Chloé Martin", "chloe.martin@brisvale.example", "chloe.martin@brisvale.example", false},
    {kDaniel, "Daniel Weiss", "daniel.weiss@brisvale.example", "daniel.weiss@brisvale.example", false},
    {kEmma, "Emma Lindqvist", "emma.lindqvist@brisvale.example", "emma.lindqvist@brisvale.example", false},
    {kFarid, "Farid Haddad", "farid.haddad@brisvale.example", "farid.haddad@brisvale.example", false},
    {kGrace, "Grace Liu", "grace.liu@brisvale.example", "grace.liu@brisvale.example", false},
    // A guest account whose user name is only an identifier: useless as a login hint.
    {kKwame, "Kwame Osei", "kwame.osei@brisvale.example", "69a2378c-52a2-4bae-9f32-69d654ef43bd", false},
    // Changed her password since her last sign-in: only a forced login gets her in.
    {kPriya, "Priya Raman", "priya.raman@brisvale.example", "priya.raman@brisvale.example", true},
    {kSofia, "Sofia Rossi", "sofia.rossi@brisvale.example", "sofia.rossi@brisvale.example", false},
    {kTomas, "Tomás García", "tomas.garcia@brisvale.example", "tomas.garcia@brisvale.example", false},
};

const Group kGroups[] = {
    {"9f74700a-c168-45df-abb0-01251194375a", "Design", "Product and brand designers", kAna, false, {kAna, kChloe, kGrace}},
    {"3cf185c5-7334-41cb-b482-142a6af5575d", "Engineering", nullptr, kDaniel, false, {kBen, kDaniel, kFarid, kKwame, kTomas}},
    {"93bed66c-bb81-45aa-a899-4c7b98464334", "Sales Europe", "Account managers for European customers", kEmma, false, {kEmma, kSofia, kTomas}},
    {"1ed977c4-65d0-4f78-bbd2-6c67de42dcd2", "On leave", "People who are never asked to watch while away", nullptr, true, {kSofia}},
};

} // namespace

namespace OrganisationSeed {

void seedOnce(Database &db)
{
    db.transaction([&] {
        if (db.query("SELECT 1 FROM meta WHERE key = 'seeded'").next())
            return;
        for (const Person &person : kPeople)
            db.run("INSERT INTO users (id, display_name, email, user_name, stale_password) VALUES (?, ?, ?, ?, ?)",
                   person.id, person.displayName, person.email, person.userName, person.stalePassword);
        int order = 0;
        for (const Group &group : kGroups) {
            db.run("INSERT INTO viewer_groups (id, name, description, owner_id, is_exclusion_list, sort_order) VALUES (?, ?, ?, ?, ?, ?)",
                   group.id, group.name, group.description ? std::optional<QString>(QString::fromUtf8(group.description)) : std::nullopt,
                   group.ownerId ? std::optional<QString>(QString::fromUtf8(group.ownerId)) : std::nullopt, group.isExclusionList, ++order);
            for (const char *member : group.memberIds)
                db.run("INSERT INTO group_members (group_id, user_id) VALUES (?, ?)", group.id, member);
        }
        db.run("INSERT INTO meta (key, value) VALUES ('seeded', '1')");
    });
}

} // namespace OrganisationSeed
