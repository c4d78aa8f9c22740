-- Visitors: each request is a line written by one of the 200 visitors, in turn, with an
-- accented letter; any status other than 200 is a failure.
local visitors = {}
local threads = {}
local turn = 0
failures = 0

function setup(thread)
    table.insert(threads, thread)
end

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
    if status ~= 200 then
        failures = failures + 1
    end
end

function done(summary, latency, requests)
    local failed = summary.errors.connect + summary.errors.read + summary.errors.write +
                   summary.errors.status + summary.errors.timeout
    for _, thread in ipairs(threads) do
        failed = failed + thread:get("failures")
    end
    io.write(string.format("RESULT visitors requests %d p50 %.2f ms p99 %.2f ms max %.2f ms failures %d\n",
        summary.requests, latency:percentile(50) / 1000, latency:percentile(99) / 1000,
        latency.max / 1000, failed))
end
