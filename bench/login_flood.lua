-- wrk script: log-ins with user names nobody has, each one a new name, as a
-- flood of strangers would send: to the handhelds' /v1/login as JSON, or to
-- the back office's /admin/login as a browser's form. done() prints how many
-- answers had each status; "unexpected: N" counts all but 401 (refused), 429
-- (too many failed log-ins) and 503 (busy), with the first of them.
--
-- Arguments after the URL: "names=PREFIX" (the names are PREFIX-THREAD-N, so
-- that two floods never share one), "form=ORIGIN" (the back office's form,
-- sent from ORIGIN), and "timed": run then with one connection per thread
-- (-t N -c N), each thread times its own answers and done() adds their p50,
-- p99 and max in ms per status. wrk tells a script neither an answer's time
-- nor its connection, so only a thread of one connection can time it.
local ffi = require("ffi")
ffi.cdef [[
  typedef struct { long tv_sec; long tv_nsec; } flood_timespec;
  int clock_gettime(int clock, flood_timespec *now);
]]
local CLOCK_MONOTONIC = 1
local now = ffi.new("flood_timespec")

local function milliseconds()
  ffi.C.clock_gettime(CLOCK_MONOTONIC, now)
  return tonumber(now.tv_sec) * 1000 + tonumber(now.tv_nsec) / 1e6
end

local threads = {}

function setup(thread)
  thread:set("id", #threads + 1)
  table.insert(threads, thread)
end

function init(args)
  names, form_origin, timed = "flood", nil, false
  for _, arg in ipairs(args) do
    names = arg:match("^names=(.*)") or names
    form_origin = arg:match("^form=(.*)") or form_origin
    timed = timed or arg == "timed"
  end
  sent = 0
  counts = {}
  -- Timed: each answer's milliseconds in times_STATUS, a list per status, as
  -- wrk copies only a thread's flat tables.
  unexpected = 0
  first_unexpected = ""
end

function request()
  sent = sent + 1
  sent_at = milliseconds()
  local name = string.format("%s-%d-%d", names, id, sent)
  if form_origin then
    return wrk.format("POST", "/admin/login", {
      ["Content-Type"] = "application/x-www-form-urlencoded",
      ["Origin"] = form_origin,
    }, "name=" .. name .. "&password=not-a-password")
  end
  local body = string.format('{"app":2,"user":"%s","password":"not-a-password"}', name)
  return wrk.format("POST", "/v1/login", { ["Content-Type"] = "application/json" }, body)
end

function response(status, headers, body)
  counts[status] = (counts[status] or 0) + 1
  if timed then
    local list = "times_" .. status
    _G[list] = _G[list] or {}
    table.insert(_G[list], milliseconds() - sent_at)
  end
  if status ~= 401 and status ~= 429 and status ~= 503 then
    if unexpected == 0 then first_unexpected = status .. " " .. string.sub(body or "", 1, 120) end
    unexpected = unexpected + 1
  end
end

-- Nearest rank, as the handhelds' figures.
local function percentile(sorted, p)
  return sorted[math.max(1, math.ceil(#sorted * p / 100))]
end

function done(summary, latency, requests)
  local totals, times, unexpected_total, first = {}, {}, 0, ""
  for _, thread in ipairs(threads) do
    for status, n in pairs(thread:get("counts")) do
      totals[status] = (totals[status] or 0) + n
      times[status] = times[status] or {}
      for _, ms in ipairs(thread:get("times_" .. status) or {}) do table.insert(times[status], ms) end
    end
    local n = thread:get("unexpected")
    if n > 0 and first == "" then first = thread:get("first_unexpected") end
    unexpected_total = unexpected_total + n
  end
  for status, n in pairs(totals) do
    local list = times[status]
    table.sort(list)
    io.write(string.format("status %d: %d", status, n))
    if #list > 0 then
      io.write(string.format(" p50 %.1f p99 %.1f max %.1f", percentile(list, 50), percentile(list, 99), list[#list]))
    end
    io.write("\n")
  end
  io.write(string.format("unexpected: %d\n", unexpected_total))
  if unexpected_total > 0 then io.write("first unexpected: " .. first .. "\n") end
end
