// The WHOIS client and its window are built here.
