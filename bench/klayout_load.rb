# Loads one layout in KLayout's batch mode and writes the seconds the load
# took (the load alone, not the program's start) to a file:
#   klayout -zz -r bench/klayout_load.rb -rd input=LIBRARY.gds -rd out=TIME_FILE
t0 = Process.clock_gettime(Process::CLOCK_MONOTONIC)
layout = RBA::Layout.new
layout.read($input)
t1 = Process.clock_gettime(Process::CLOCK_MONOTONIC)
File.write($out, format("%.6f %d\n", t1 - t0, layout.cells))
