-- wrk: every request the favourites page of one of the 1,000 users with 20 favourites each
-- ("small-0" to "small-999", as bench_service --generate makes them), picked at random.
local users = 1000

init = function(args)
  math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))
end

request = function()
  return wrk.format("GET", "/app/fav.asp?userid=small-" .. math.random(0, users - 1) ..
    "&emailid=bench@example.org&pubid=2&version=1.00.00")
end
