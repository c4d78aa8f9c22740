-- Visitors: each request is a line written by one of the 200 visitors, in turn, with an
-- accented letter; any status other than 200 is a failure, except 502: the balancer's answer
-- for a request in flight on a service that was killed, counted apart.
local visitors = {}
local threads = {}
local turn = 0
failures = 0
cut = 0

function setup(thread)
    table.insert(threads, thread)
end

-- With TERTULIA_LOAD_KILLING=1, a service is killed during the run: a keep-alive connection
-- that the balancer closes because its service died takes its waiting request with it, and
-- such a read error counts as cut too.
local killing = os.getenv("TERTULIA_LOAD_KILLING") == "1"

function init(args)
    for line in io.lines("visitors.txt") do
        local id, token = line:match("^(%d+) (%x+)$")
        table.insert(visitors, {id = id, token = token})
    end
end

function request()
    turn = turn + 1
    local visitor = visitors[(turn % #visitors) + 1]
    return wrk.format("POST", "/api/conversaciones/" .. visitor.id .. "/mensajes",
        {["Content-Type"] = "application/x-www-form-urlencoded"},
        "token=" .. visitor.token .. "&texto=%C2%BFHay+env%C3%ADos+" .. turn .. "%3F")
end

function response(status, headers, body)
    if status == 502 then
        cut = cut + 1
    elseif status ~= 200 then
        failures = failures + 1
    end
end

function done(summary, latency, requests)
    local failed = summary.errors.connect + summary.errors.write + summary.errors.timeout
    local cut = 0
    if killing then
        cut = summary.errors.read
    else
        failed = failed + summary.errors.read
    end
    for _, thread in ipairs(threads) do
        failed = failed + thread:get("failures")
        cut = cut + thread:get("cut")
    end
    io.write(string.format("RESULT visitors requests %d rate %.0f/s p50 %.2f ms p99 %.2f ms max %.2f ms cut %d failures %d\n",
        summary.requests, summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
        latency:percentile(99) / 1000, latency.max / 1000, cut, failed))
end
