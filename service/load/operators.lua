-- Operators: each request is a news poll or a transcript poll of one of the 100 sessions, in
-- turn; a reply that starts with "ERROR" or a status other than 200 is a failure.
local sessions = {}
local threads = {}
local turn = 0
failures = 0
local conversations = 200

function setup(thread)
    table.insert(threads, thread)
end

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
    if status ~= 200 or body:sub(1, 5) == "ERROR" then
        failures = failures + 1
    end
end

function done(summary, latency, requests)
    local failed = summary.errors.connect + summary.errors.read + summary.errors.write +
                   summary.errors.status + summary.errors.timeout
    for _, thread in ipairs(threads) do
        failed = failed + thread:get("failures")
    end
    io.write(string.format("RESULT operators requests %d p50 %.2f ms p99 %.2f ms max %.2f ms failures %d\n",
        summary.requests, latency:percentile(50) / 1000, latency:percentile(99) / 1000,
        latency.max / 1000, failed))
end
