module zelt/soongcheck

go 1.21
