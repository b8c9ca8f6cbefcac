// SPDX-License-Identifier: MIT
{
  vu30-sim-rig in Object Pascal: a station host tested without a forecourt,
  as the C rig (sim_rig.c) is.

  The host hands the dispenser simulator's port dispatcher (unit vu30sim) to
  its driver (TVu30Driver, unit vu30) instead of its own, checks that the
  driver set the post up for the simulated dispenser's type (the driver
  takes it from cnf.INI; none there means type 0, as simulated here), and
  plays the customer through the simulator:
  it sells 12.34 L at 41.30 on post 1, nozzle 3, and checks what the driver
  reports against what the simulated dispenser measured: volume, money to
  the cent, the counter before and after. Then it sells again while the line
  loses the dispenser's next message and fails the driver's answer to the
  dose request once: the dispenser repeats both and the sale still agrees.
  Exits 0 when everything agrees. Every error of the driver arrives as
  EVu30Error; an unexpected one ends the rig with its message.

  Build with Free Pascal, the units' folder in the unit path, and run it with
  the driver's and the simulator's libraries beside it (Windows) or on the
  library path:
    fpc -Fubindings/pascal -FUunits -osim_rig examples/sim_rig.pas
}
program sim_rig;

{$mode objfpc}{$H+}

uses
  {$ifdef UNIX}cthreads, cwstring,{$endif} { the driver calls back on threads of its own }
  SysUtils, vu30, vu30sim;

const
  Post = 1;
  Nozzle = 3;
  TimeoutMs = 20000;

var
  Failures: Integer = 0;

procedure Check(Ok: Boolean; const What: string);
begin
  if Ok then
    WriteLn('  ', What, ': ok')
  else
  begin
    WriteLn('  ', What, ': FAILED');
    Inc(Failures);
  end;
end;

function Hundredths(Value: Double): Int64;
begin
  Result := Round(Value * 100);
end;

{ One sale of PresetLitres on Post/Nozzle, checked against the simulator's
  record of the sale at Index. }
procedure Sell(Sim: PVu30Sim; Driver: TVu30Driver; PresetLitres: Double; Index: LongWord;
  Faulty: Boolean);
var
  Before, After, Volume, Money: Double;
  Sale: TVu30SimSale;
begin
  Before := Driver.ReadCounter(Post, Nozzle);
  Driver.PresetVolume(Post, Nozzle, PresetLitres);

  { The customer lifts the nozzle; the driver answers the price request. }
  Check(Vu30SimLiftNozzle(Sim, Post, Nozzle) = Vu30SimOk, 'nozzle lifted');
  Check(Vu30SimWaitPhase(Sim, Post, Vu30SimAwaitingStart, TimeoutMs) = Vu30SimOk,
    'the driver answered the price request');
  { The host starts the post; the dispenser asks for the dose, the fuel
    flows, the dispenser reports the end and the driver acknowledges it. }
  Driver.StartPump(Post);
  if Faulty then
    Vu30SimFailFrames(Sim, Post, Vu30SimFaultFailedResult, 1);
  Check(Vu30SimWaitSales(Sim, Post, Index + 1, TimeoutMs) = Vu30SimOk, 'the sale ended');
  Check(Vu30SimWaitPhase(Sim, Post, Vu30SimIdle, TimeoutMs) = Vu30SimOk,
    'the driver acknowledged the end report');

  Driver.ReadFinalDispense(Post, Volume, Money);
  After := Driver.ReadCounter(Post, Nozzle);
  FillChar(Sale, SizeOf(Sale), 0);
  Check(Vu30SimSale(Sim, Post, Index, Sale) = Vu30SimOk, 'the simulator''s record read');
  WriteLn('  driver: ', Volume:0:2, ' L, ', Money:0:2, ', counter ', Before:0:2, ' -> ',
    After:0:2);
  WriteLn('  dispenser: ', Sale.Volume, ' cL at ', Sale.Price, ', ', Sale.Money,
    ' cents, counter ', Sale.CounterBefore, ' -> ', Sale.CounterAfter);
  Check((Sale.Refused = 0) and (Sale.Volume = Hundredths(PresetLitres)),
    'the preset was dispensed');
  Check(Hundredths(Volume) = Sale.Volume, 'volume agrees');
  Check(Hundredths(Money) = Sale.Money, 'money agrees to the cent');
  Check((Hundredths(Before) = Sale.CounterBefore) and (Hundredths(After) = Sale.CounterAfter),
    'counters agree');
  Check(Driver.LinkStatus[Post] = Vu30LinkGood, 'the link is good');
end;

var
  Options: TVu30SimOptions;
  Config: TVu30SimPostConfig;
  Sim: PVu30Sim;
  Driver: TVu30Driver;
  Price: LongInt;
  Count: QWord;
begin
  Vu30SimDefaultOptions(Options);
  Options.Baud := 0; { every frame at once }
  Options.RepeatTimeoutMs := 100;
  Sim := nil;
  if Vu30SimCreate(Options, Sim) <> Vu30SimOk then
  begin
    WriteLn('Vu30SimCreate: ', Vu30SimLastError);
    Halt(1);
  end;
  Config.PortType := 0;
  Config.ImpulsesPerLitre := 100;
  Config.Nozzles := 4;
  Config.FlowRate := 2000; { 20 L/s }
  Vu30SimConfigurePost(Sim, Post, Config);
  Vu30SimSetCounter(Sim, Post, Nozzle, 123456); { 1234.56 L }

  WriteLn('vu30 simulator rig (Pascal)');
  Driver := TVu30Driver.Create(Vu30SimDispatcher(Sim));
  try
    Driver.OpenPost(Post);
    if Vu30SimCheckPostType(Sim, Post) <> Vu30SimOk then
      WriteLn('  ', Vu30SimLastError);
    Check(Vu30SimCheckPostType(Sim, Post) = Vu30SimOk, 'the driver knows the post''s type');
    Driver.SetPrice(Post, Nozzle, 41.30);
    Price := 0;
    Vu30SimPrice(Sim, Post, Nozzle, Price);
    Check(Price = 4130, 'the dispenser holds the price');

    WriteLn('a sale:');
    Sell(Sim, Driver, 12.34, 0, False);

    WriteLn('a sale on a faulty line:');
    Vu30SimLoseMessages(Sim, Post, 1);
    Sell(Sim, Driver, 5.0, 1, True);
    Count := 0;
    Vu30SimFaultCount(Sim, Vu30SimFaultLostMessage, Count);
    Check(Count = 1, 'one message was lost and sent again');
    Count := 0;
    Vu30SimFaultCount(Sim, Vu30SimFaultFailedResult, Count);
    Check(Count = 1, 'one frame failed and was sent again');

    { A refused call changes nothing and says why. }
    Check(Vu30SimLiftNozzle(Sim, Post, 9) = Vu30SimBadArgument, 'nozzle 9 refused');
    WriteLn('  (', Vu30SimLastError, ')');
    try
      Driver.SetPrice(Post, 9, 41.30);
      Check(False, 'the driver refuses nozzle 9 too');
    except
      on E: EVu30Error do
      begin
        Check(E.Kind = Vu30ErrorRefused, 'the driver refuses nozzle 9 too');
        WriteLn('  (', E.Message, ')');
      end;
    end;

    Vu30SimForgetCallbacks(Sim);
  finally
    Driver.Free;
  end;
  Vu30SimDestroy(Sim);
  if Failures = 0 then
    WriteLn('all agree')
  else
    WriteLn('MISMATCH');
  if Failures <> 0 then
    Halt(1);
end.
