-- wrk script: sends the request body in BENCH_BODY_FILE as a POST (a GET when
-- unset) and counts every answer that is not byte for byte the one in
-- BENCH_EXPECT_FILE; done() prints "wrong answers: N".
local function slurp(path)
  local file = assert(io.open(path, "rb"))
  local text = file:read("*a")
  file:close()
  return text
end

local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  expected = slurp(os.getenv("BENCH_EXPECT_FILE"))
  local body_file = os.getenv("BENCH_BODY_FILE")
  if body_file and body_file ~= "" then
    wrk.method = "POST"
    wrk.body = slurp(body_file)
    wrk.headers["Content-Type"] = "application/json"
  end
  wrong = 0
  first_wrong = ""
end

function response(status, headers, body)
  if status ~= 200 or body ~= expected then
    if wrong == 0 then first_wrong = status .. " " .. string.sub(body or "", 1, 120) end
    wrong = wrong + 1
  end
end

function done(summary, latency, requests)
  local total, first = 0, ""
  for _, thread in ipairs(threads) do
    local n = thread:get("wrong")
    if n > 0 and first == "" then first = thread:get("first_wrong") end
    total = total + n
  end
  io.write(string.format("wrong answers: %d\n", total))
  if total > 0 then io.write("first wrong answer: " .. first .. "\n") end
  io.write(string.format("p50 us: %d\np99 us: %d\n", latency:percentile(50), latency:percentile(99)))
end
