#!/usr/bin/env bash
# What PostgreSQL itself gives for a ticket update on this machine, beside
# what the server gives: in turns on one durable PostgreSQL 15 cluster,
# ticket_bench sends updates from 8 handhelds through the server, and
# pgbench sends from 8 clients the statements the server runs for a line
# added (the same texts and round trips, on tickets of their own). pgbench
# costs next to nothing beside them, so its rate is a ceiling for the server's.
# Each pgbench transaction first picks its ticket and book in one more
# statement of its own, so the ceiling is, if anything, set low.
# Keep the statements below in step with the server's (pg_stat_statements
# lists what it sends). Exits non-zero when either side had an error.
#
#   bench/postgres_floor.sh BUILD [SECONDS] [ROUNDS]
# Run as root (the cluster runs as the postgres user).
set -euo pipefail
. bench/store_server.sh
. bench/postgres_cluster.sh
build=$1 seconds=${2:-10} rounds=${3:-3}
start_postgres_cluster
db=$(create_store store)
sql() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres store "$@"; }
session=1002  # ticket_bench's buying session
failed=0

through_server() {
  echo "== through the server, load $(cut -d' ' -f1 /proc/loadavg)"
  handhelds_through "$build" "$build" "$db"
}

# Eight tickets like the handhelds' (made by the first run through the
# server), a numbered list of the session's books, a line numbering and
# update identities.
prepare_pgbench() {
  sql <<SQL
INSERT INTO tickets (ticket_id, receipt, store_num, user_id, buyer, student_id, opened_on, is_open)
  SELECT 900000 + n, 'F' || lpad(n::text, 7, '0'), t.store_num, t.user_id, t.buyer, t.student_id, t.opened_on, 1
  FROM generate_series(0, 7) n, (SELECT * FROM tickets ORDER BY ticket_id LIMIT 1) t;
CREATE TABLE floor_books AS
  SELECT row_number() OVER (ORDER BY item_id, purchaser) AS n, item_id, purchaser
  FROM book_purchasers WHERE session_id = $session;
CREATE UNIQUE INDEX ON floor_books(n);
CREATE SEQUENCE floor_line;
-- Time first, as the handhelds make them, so the identities' index grows at its end.
CREATE FUNCTION floor_update_id() RETURNS text LANGUAGE sql AS \$\$
  SELECT substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-' || substr(h, 13, 4) || '-' || substr(h, 17, 4) || '-' ||
         substr(h, 21, 12)
  FROM (SELECT lpad(to_hex((extract(epoch FROM clock_timestamp()) * 1000000)::bigint), 16, '0') ||
               substr(md5(random()::text), 1, 16) AS h) x
\$\$;
ANALYZE;
SQL
  books=$(sql -At -c "SELECT count(*) FROM floor_books")
  user=$(sql -At -c "SELECT user_id FROM tickets WHERE ticket_id = 900000")
  token=$(sql -At -c "SELECT token_hash FROM session_tokens WHERE user_id = $user LIMIT 1")
  cat >"$dir/update.sql" <<SQL
\set b random(1, $books)
SELECT 900000 + :client_id % 8 AS tid, 'F' || lpad((:client_id % 8)::text, 7, '0') AS rc, b.item_id AS item, b.purchaser AS pur, nextval('floor_line') AS line, floor_update_id() AS upd FROM floor_books b WHERE b.n = :b \gset
\startpipeline
BEGIN ISOLATION LEVEL READ COMMITTED;
SELECT t.app, t.expires_at, u.user_id, u.user_name, u.store_num, u.can_buy, u.active, u.restrict_lookup, x.user_id, x.answer, x.digest FROM session_tokens t JOIN users u ON u.user_id = t.user_id LEFT JOIN ticket_updates x ON x.update_id = :upd WHERE t.token_hash = '$token';
\endpipeline
\startpipeline
SELECT 1 FROM tickets WHERE receipt = :rc FOR UPDATE;
SELECT 1 FROM book_purchasers WHERE session_id = $session AND item_id = :item AND purchaser = :pur FOR UPDATE;
SELECT t.ticket_id, t.receipt, t.store_num, t.user_id, t.buyer, t.student_id, t.opened_on, t.is_open, (EXISTS (SELECT 1 FROM users b WHERE b.user_id = $user AND b.store_num = t.store_num AND b.active = 1 AND b.can_buy = 1) OR EXISTS (SELECT 1 FROM session_tokens k JOIN users b ON b.user_id = k.buyer_user_id WHERE k.token_hash = '$token' AND k.buyer_store = t.store_num AND b.store_num = t.store_num AND b.active = 1 AND b.can_buy = 1)), l.line, l.session_id, l.item_id, l.purchaser, l.qty, l.price_cents, (SELECT COUNT(*) FROM stores WHERE store_num = t.store_num), (SELECT COALESCE(SUM(o.qty), 0) FROM ticket_lines o WHERE o.ticket_id = t.ticket_id AND o.line <> :line AND lower(o.item_id) = lower(:item)), s.store_num, s.is_open, s.student_id_required, s.condition_check, s.within_percent, s.tran_warning_qty, s.tran_max_qty, p.no_limit, p.buy_qty, p.bought_qty, p.buy_price_cents, p.listed_price_cents, p.condition_check FROM tickets t LEFT JOIN ticket_lines l ON l.ticket_id = t.ticket_id AND l.line = :line LEFT JOIN buying_sessions s ON s.session_id = $session LEFT JOIN book_purchasers p ON p.session_id = $session AND p.item_id = :item AND p.purchaser = :pur WHERE t.receipt = :rc;
\endpipeline
\startpipeline
UPDATE book_purchasers SET bought_qty = bought_qty + 1 WHERE session_id = $session AND item_id = :item AND purchaser = :pur;
INSERT INTO ticket_lines (ticket_id, line, session_id, item_id, purchaser, qty, price_cents) VALUES (:tid, :line, $session, :item, :pur, 1, 500);
UPDATE tickets SET line_count = line_count + 1, total_cents = total_cents + 500 WHERE ticket_id = :tid;
INSERT INTO ticket_audit (changed_at, user_name, receipt, line, action, old_values, new_values) VALUES (1765000000, 'buyer', :rc, :line, 'add', '', 'session=$session item=0000000000 purchaser=FLOOR qty=1 price=5.00');
INSERT INTO ticket_updates (update_id, user_id, answer, applied_at, digest) VALUES (:upd, $user, 'done', 1765000000, '0123456789abcdef0123456789abcdef');
COMMIT;
\endpipeline
SQL
}

# Line numbers end at 99999: each run starts its tickets afresh.
with_pgbench() {
  sql -c "DELETE FROM ticket_lines WHERE ticket_id >= 900000" -c "ALTER SEQUENCE floor_line RESTART" \
    -c "VACUUM ANALYZE ticket_lines"
  echo "== pgbench, the same statements, load $(cut -d' ' -f1 /proc/loadavg)"
  "$pg_bin/pgbench" -h 127.0.0.1 -p "$port" -U postgres -n -M prepared -c 8 -j 2 -T "$seconds" \
    -f "$dir/update.sql" store >"$dir/pgbench" 2>&1 || failed=1
  grep -E '^(tps|latency average|number of failed)|error' "$dir/pgbench" || true
  grep -q '^number of failed transactions: 0 ' "$dir/pgbench" || failed=1
}

through_server
prepare_pgbench
with_pgbench
for _ in $(seq 2 "$rounds"); do
  through_server
  with_pgbench
done
exit $failed
