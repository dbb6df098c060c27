#include "server/ServiceSchema.h"

#include "server/Crypto.h"
#include "server/Database.h"

namespace ServiceSchema {

void create(Database &db)
{
    // Times are milliseconds since 1970 (UTC); secrets are stored only as SHA-256 hashes.
    db.transaction([&] {
        db.exec(R"sql(
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS users (
  id TEXT PRIMARY KEY, display_name TEXT NOT NULL, email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  user_name TEXT NOT NULL UNIQUE COLLATE NOCASE, stale_password INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS viewer_groups (
  id TEXT PRIMARY KEY, name TEXT NOT NULL, description TEXT, owner_id TEXT REFERENCES users(id),
  is_exclusion_list INTEGER NOT NULL DEFAULT 0, sort_order INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS group_members (
  group_id TEXT NOT NULL REFERENCES viewer_groups(id), user_id TEXT NOT NULL REFERENCES users(id),
  PRIMARY KEY (group_id, user_id));
CREATE TABLE IF NOT EXISTS authorization_requests (
  id TEXT PRIMARY KEY, tenant TEXT NOT NULL, client_id TEXT NOT NULL, redirect_uri TEXT NOT NULL,
  scope TEXT NOT NULL, state TEXT, code_challenge TEXT NOT NULL, login_hint TEXT, prompt TEXT,
  expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS authorization_codes (
  code_hash TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), tenant TEXT NOT NULL,
  client_id TEXT NOT NULL, redirect_uri TEXT NOT NULL, scope TEXT NOT NULL, code_challenge TEXT NOT NULL,
  expires_at INTEGER NOT NULL, used_at INTEGER, family_id TEXT);
CREATE TABLE IF NOT EXISTS sign_in_sessions (
  id_hash TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), created_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS refresh_tokens (
  token_hash TEXT PRIMARY KEY, family_id TEXT NOT NULL, user_id TEXT NOT NULL REFERENCES users(id),
  tenant TEXT NOT NULL, client_id TEXT NOT NULL, scope TEXT NOT NULL, issued_at INTEGER NOT NULL,
  expires_at INTEGER NOT NULL, used_at INTEGER, revoked_at INTEGER);
CREATE INDEX IF NOT EXISTS refresh_tokens_family ON refresh_tokens (family_id);
CREATE TABLE IF NOT EXISTS access_tokens (
  token_hash TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), family_id TEXT NOT NULL,
  issued_at INTEGER NOT NULL, expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS blobs (
  name TEXT PRIMARY KEY, owner_id TEXT NOT NULL REFERENCES users(id), content_type TEXT NOT NULL,
  created_at INTEGER NOT NULL, size_bytes INTEGER, uploaded_at INTEGER, converted_from TEXT);
CREATE TABLE IF NOT EXISTS folders (
  id INTEGER PRIMARY KEY AUTOINCREMENT, owner_id TEXT NOT NULL REFERENCES users(id), name TEXT NOT NULL,
  sort_order INTEGER NOT NULL, created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS links (
  slug TEXT PRIMARY KEY, owner_id TEXT NOT NULL REFERENCES users(id), title TEXT NOT NULL,
  title_is_default INTEGER NOT NULL, content_type TEXT NOT NULL, reserved_blob TEXT,
  blob_name TEXT REFERENCES blobs(name), poster_blob TEXT REFERENCES blobs(name),
  created_at INTEGER NOT NULL, published_at INTEGER, folder_id INTEGER REFERENCES folders(id) ON DELETE SET NULL,
  duration_seconds INTEGER, notify_on_start INTEGER NOT NULL DEFAULT 0, ask_seen_proof INTEGER NOT NULL DEFAULT 0,
  ask_quiz INTEGER NOT NULL DEFAULT 0, question_count INTEGER NOT NULL DEFAULT 5, spoken_language TEXT,
  caption_languages TEXT, voices TEXT);
CREATE TABLE IF NOT EXISTS videos (
  id INTEGER PRIMARY KEY AUTOINCREMENT, slug TEXT NOT NULL UNIQUE REFERENCES links(slug),
  created_at INTEGER NOT NULL, quiz_started_at INTEGER, quiz_confirmed_at INTEGER,
  quiz_auto_confirm INTEGER NOT NULL DEFAULT 0, quiz_use_recommended INTEGER NOT NULL DEFAULT 1,
  quiz_summary TEXT, quiz_written INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS viewer_assignments (
  video_id INTEGER NOT NULL REFERENCES videos(id), viewer_key TEXT NOT NULL, user_id TEXT REFERENCES users(id),
  email TEXT NOT NULL, via_group TEXT REFERENCES viewer_groups(id), assigned_at INTEGER NOT NULL,
  opened_at INTEGER, finished_at INTEGER, PRIMARY KEY (video_id, viewer_key));
CREATE TABLE IF NOT EXISTS quiz_questions (
  id INTEGER PRIMARY KEY AUTOINCREMENT, video_id INTEGER NOT NULL REFERENCES videos(id), position INTEGER NOT NULL,
  text TEXT NOT NULL, options TEXT NOT NULL, correct_index INTEGER NOT NULL, included INTEGER NOT NULL,
  recommended INTEGER NOT NULL, is_custom INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS link_events (
  id INTEGER PRIMARY KEY AUTOINCREMENT, slug TEXT NOT NULL REFERENCES links(slug), event TEXT NOT NULL,
  viewer_id TEXT, at INTEGER NOT NULL, remote_addr TEXT, user_agent TEXT);
CREATE TABLE IF NOT EXISTS diagnostics (
  id INTEGER PRIMARY KEY AUTOINCREMENT, user_id TEXT NOT NULL REFERENCES users(id), platform TEXT NOT NULL,
  version TEXT NOT NULL, log TEXT NOT NULL, automatic INTEGER NOT NULL, received_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS auth_events (
  id INTEGER PRIMARY KEY AUTOINCREMENT, platform TEXT NOT NULL, version TEXT NOT NULL, event TEXT NOT NULL,
  code TEXT NOT NULL, hint TEXT NOT NULL, received_at INTEGER NOT NULL, remote_addr TEXT);
)sql");
    });
}

QByteArray signingKey(Database &db)
{
    return db.transaction([&] {
        SqlStatement existing = db.query("SELECT value FROM meta WHERE key = 'signing_key'");
        if (existing.next())
            return QByteArray::fromBase64(existing.text(0).toLatin1());
        const QByteArray key = Crypto::randomBytes(32);
        db.run("INSERT INTO meta (key, value) VALUES ('signing_key', ?)", QString::fromLatin1(key.toBase64()));
        return key;
    });
}

} // namespace ServiceSchema
