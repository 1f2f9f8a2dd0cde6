quit
