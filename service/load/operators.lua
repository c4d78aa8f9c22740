-- Operators: each request is a news poll or a transcript poll of one of the 100 sessions, in
-- turn; a reply that starts with "ERROR" or a status other than 200 is a failure, except 502:
-- the balancer's answer for a request in flight on a service that was killed, counted apart.
local sessions = {}
local threads = {}
local turn = 0
failures = 0
cut = 0
local conversations = 200

function setup(thread)
    table.insert(threads, thread)
end

-- With TERTULIA_LOAD_KILLING=1, a service is killed during the run: a keep-alive connection
-- that the balancer closes because its service died takes its waiting request with it, and
-- such a read error counts as cut too.
local killing = os.getenv("TERTULIA_LOAD_KILLING") == "1"

function init(args)
    for line in io.lines("operators.txt") do
        table.insert(sessions, line)
    end
end

function request()
    turn = turn + 1
    local session = sessions[(turn % #sessions) + 1]
    local path
    if turn % 2 == 0 then
        path = "/tertulia.php?accion=get_news&idempresa=demo&idsesion=" .. session
    else
        path = "/tertulia.php?accion=getchat&idempresa=demo&idsesion=" .. session ..
               "&idsesionclt=" .. ((turn % conversations) + 1)
    end
    return wrk.format("GET", path)
end

function response(status, headers, body)
    if status == 502 then
        cut = cut + 1
    elseif status ~= 200 or body:sub(1, 5) == "ERROR" then
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
    io.write(string.format("RESULT operators requests %d rate %.0f/s p50 %.2f ms p99 %.2f ms max %.2f ms cut %d failures %d\n",
        summary.requests, summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
        latency:percentile(99) / 1000, latency.max / 1000, cut, failed))
end
