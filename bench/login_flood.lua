-- wrk script: log-ins with user names nobody has ("flood-T-N"), each one a
-- new name, as a flood of strangers would send. done() prints how many
-- answers had each status; "unexpected: N" counts all but 401 (refused), 429
-- (too many failed log-ins) and 503 (busy), with the first of them.
local threads = {}

function setup(thread)
  thread:set("id", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  sent = 0
  counts = {}
  unexpected = 0
  first_unexpected = ""
end

function request()
  sent = sent + 1
  local body = string.format('{"app":2,"user":"flood-%d-%d","password":"not-a-password"}', id, sent)
  return wrk.format("POST", "/v1/login", { ["Content-Type"] = "application/json" }, body)
end

function response(status, headers, body)
  counts[status] = (counts[status] or 0) + 1
  if status ~= 401 and status ~= 429 and status ~= 503 then
    if unexpected == 0 then first_unexpected = status .. " " .. string.sub(body or "", 1, 120) end
    unexpected = unexpected + 1
  end
end

function done(summary, latency, requests)
  local totals, unexpected_total, first = {}, 0, ""
  for _, thread in ipairs(threads) do
    for status, n in pairs(thread:get("counts")) do totals[status] = (totals[status] or 0) + n end
    local n = thread:get("unexpected")
    if n > 0 and first == "" then first = thread:get("first_unexpected") end
    unexpected_total = unexpected_total + n
  end
  for status, n in pairs(totals) do io.write(string.format("status %d: %d\n", status, n)) end
  io.write(string.format("unexpected: %d\n", unexpected_total))
  if unexpected_total > 0 then io.write("first unexpected: " .. first .. "\n") end
end
